#pragma once
// A long run of (time, value) points kept so that drawing any span of it costs the same however
// many points it holds. A chart cannot show more than the lowest and highest value of each pixel
// column, so only those are handed to it: from the recent points as they came, or, for a longer
// span, from buckets of fixed widths (each four times the one before) that keep the lowest and
// highest point of every point that fell into them. Hours of pulses draw as fast as ten seconds.
//
// Pure, no widgets; keys are seconds and never go back.

#include <cstdint>
#include <deque>
#include <optional>
#include <utility>
#include <vector>

namespace diagnostika {

class TrendSeries {
public:
    struct Point {
        double key = 0;
        double value = 0;
    };

    // `finestBucket`: the narrowest bucket, in seconds; `keepRaw`: how many seconds of the latest
    // points are kept as they came, for spans narrower than a bucket per pixel.
    explicit TrendSeries(double finestBucket = 0.05, double keepRaw = 120);

    // A point no earlier than the last one.
    void add(double key, double value);
    void clear();
    bool empty() const { return count_ == 0; }
    std::int64_t count() const { return count_; }

    // What to draw for [from, to] across `columns` pixel columns: for each column that holds any
    // point, its lowest and highest point in the order they came (one when they are the same), in
    // key order. At most 2 * columns points; every point in the span is within their range.
    std::vector<Point> sample(double from, double to, int columns) const;

private:
    struct Bucket {
        std::int64_t index = 0; // floor(key / width)
        Point low, high;
    };
    class Columns;
    // Every point of [from, to] into `gather`, from buckets of `level` or finer (-1: the points).
    void collect(int level, double from, double to, Columns& gather) const;
    void addBuckets(int level, std::int64_t first, std::int64_t last, Columns& gather) const;

    static constexpr int levels = 8; // the widest bucket is 4^7 finest ones
    double finest_;
    double keepRaw_;
    std::int64_t count_ = 0;
    std::deque<Point> raw_;
    std::vector<Bucket> buckets_[levels];
};

} // namespace diagnostika
