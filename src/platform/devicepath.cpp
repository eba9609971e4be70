#include "devicepath.h"

namespace diagnostika {
namespace {

constexpr char16_t escapeBase = 0xDC00;

// The length of the UTF-8 sequence that `lead` starts, or 0 where no sequence starts with it.
int sequenceLength(unsigned char lead)
{
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        return 2;
    if (lead >= 0xE0 && lead <= 0xEF)
        return 3;
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    return 0;
}

} // namespace

QString devicePathFromBytes(const QByteArray& bytes)
{
    QString path;
    for (qsizetype i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        const int length = sequenceLength(lead);
        if (length > 0 && i + length <= bytes.size()) {
            // Overlong forms, surrogates and bad continuation bytes decode to the replacement
            // character, which encodes to other bytes: only a sequence that comes back is text.
            const QByteArray sequence = bytes.mid(i, length);
            const QString text = QString::fromUtf8(sequence);
            if (text.toUtf8() == sequence) {
                path += text;
                i += length;
                continue;
            }
        }
        path += QChar(static_cast<char16_t>(escapeBase + lead));
        ++i;
    }
    return path;
}

QByteArray devicePathBytes(const QString& path)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < path.size(); ++i) {
        const QChar c = path[i];
        if (c.isHighSurrogate() && i + 1 < path.size() && path[i + 1].isLowSurrogate()) {
            bytes += path.mid(i, 2).toUtf8();
            ++i;
        } else if (c.unicode() >= escapeBase + 0x80 && c.unicode() <= escapeBase + 0xFF) {
            bytes += static_cast<char>(c.unicode() - escapeBase);
        } else {
            bytes += QString(c).toUtf8();
        }
    }
    return bytes;
}

QString devicePathForDisplay(QString path)
{
    for (QChar& c : path) {
        if (c.unicode() >= escapeBase + 0x80 && c.unicode() <= escapeBase + 0xFF)
            c = QChar::ReplacementCharacter;
    }
    return path;
}

} // namespace diagnostika
