// A publishing station in a process of its own, for the test that kills one: publishes to the
// address it is given and says "connected" on standard output once the broker has it.
//   publish_child mqtt://host:port/station outbox-folder
#include "publish/publisher.h"

#include <QCoreApplication>
#include <cstdio>

using namespace diagnostika::publish;

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    QString error;
    const auto settings = PublishSettings::fromUrl(QString::fromLocal8Bit(argv[1]), &error);
    if (!settings) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 2;
    }
    Publisher publisher(QString::fromLocal8Bit(argv[2]));
    QObject::connect(&publisher, &Publisher::statusChanged, [](const PublishStatus& s) {
        if (s.state == PublishStatus::State::Connected) {
            std::puts("connected");
            std::fflush(stdout);
        }
    });
    publisher.start(*settings);
    return app.exec();
}
