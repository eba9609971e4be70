#include "trendseries.h"

#include <algorithm>
#include <cmath>

namespace diagnostika {
// Gathers the lowest and highest point of each pixel column from points that come in key order.
class TrendSeries::Columns {
public:
    Columns(double from, double to, int columns, std::vector<TrendSeries::Point>& out)
        : from_(from), to_(to), columns_(std::max(1, columns)),
          perColumn_((to - from) / std::max(1, columns)), out_(out)
    {
    }
    Columns(const Columns&) = delete;
    Columns& operator=(const Columns&) = delete;

    void add(const TrendSeries::Point& p)
    {
        if (p.key < from_ || p.key > to_)
            return;
        const int column =
            perColumn_ > 0
                ? std::clamp(static_cast<int>((p.key - from_) / perColumn_), 0, columns_ - 1)
                : 0;
        if (column != column_)
            flush();
        if (!have_) {
            column_ = column;
            low_ = high_ = p;
            have_ = true;
            return;
        }
        if (p.value < low_.value)
            low_ = p;
        if (p.value > high_.value)
            high_ = p;
    }

    void flush()
    {
        if (!have_)
            return;
        have_ = false;
        const bool lowFirst = low_.key <= high_.key;
        out_.push_back(lowFirst ? low_ : high_);
        if (low_.key != high_.key || low_.value != high_.value)
            out_.push_back(lowFirst ? high_ : low_);
    }

private:
    double from_, to_;
    int columns_;
    double perColumn_;
    std::vector<TrendSeries::Point>& out_;
    bool have_ = false;
    int column_ = -1;
    TrendSeries::Point low_, high_;
};

TrendSeries::TrendSeries(double finestBucket, double keepRaw)
    : finest_(finestBucket), keepRaw_(keepRaw)
{
}

void TrendSeries::clear()
{
    count_ = 0;
    raw_.clear();
    for (std::vector<Bucket>& level : buckets_)
        level.clear();
}

void TrendSeries::add(double key, double value)
{
    const Point p{key, value};
    ++count_;
    raw_.push_back(p);
    while (raw_.front().key < key - keepRaw_)
        raw_.pop_front();
    double width = finest_;
    for (std::vector<Bucket>& level : buckets_) {
        const auto index = static_cast<std::int64_t>(std::floor(key / width));
        if (level.empty() || level.back().index != index) {
            level.push_back({index, p, p});
        } else {
            Bucket& b = level.back();
            if (value < b.low.value)
                b.low = p;
            if (value > b.high.value)
                b.high = p;
        }
        width *= 4;
    }
}

std::vector<TrendSeries::Point> TrendSeries::sample(double from, double to, int columns) const
{
    std::vector<Point> out;
    if (count_ == 0 || !(to > from))
        return out;
    columns = std::max(1, columns);
    const double perColumn = (to - from) / columns;
    // The widest buckets that still fit a column; the points themselves where even the narrowest
    // is wider than a column and they reach back far enough.
    int level = -1;
    double width = finest_;
    for (int k = 0; k < levels && width <= perColumn; ++k, width *= 4)
        level = k;
    out.reserve(2 * static_cast<std::size_t>(columns));
    Columns gather(from, to, columns, out);
    collect(level, from, to, gather);
    gather.flush();
    return out;
}

void TrendSeries::collect(int level, double from, double to, Columns& gather) const
{
    if (from > to)
        return;
    if (level < 0) {
        if (static_cast<std::int64_t>(raw_.size()) == count_ || raw_.front().key <= from) {
            auto it = std::lower_bound(raw_.begin(), raw_.end(), from,
                                       [](const Point& p, double k) { return p.key < k; });
            for (; it != raw_.end() && it->key <= to; ++it)
                gather.add(*it);
            return;
        }
        // Older than the points kept: the finest buckets that touch the span, whose extremes may
        // lie just outside it.
        addBuckets(0, static_cast<std::int64_t>(std::floor(from / finest_)),
                   static_cast<std::int64_t>(std::floor(to / finest_)), gather);
        return;
    }
    // The buckets that lie wholly in the span; the rest of it, at either end, from finer ones, so
    // that no extreme outside the span stands in for one inside.
    const double w = finest_ * std::pow(4.0, level);
    const auto first = static_cast<std::int64_t>(std::ceil(from / w));
    const auto last = static_cast<std::int64_t>(std::floor(to / w)) - 1;
    if (first > last) {
        collect(level - 1, from, to, gather);
        return;
    }
    collect(level - 1, from, std::nextafter(static_cast<double>(first) * w, from), gather);
    addBuckets(level, first, last, gather);
    collect(level - 1, static_cast<double>(last + 1) * w, to, gather);
}

void TrendSeries::addBuckets(int level, std::int64_t first, std::int64_t last,
                             Columns& gather) const
{
    const std::vector<Bucket>& buckets = buckets_[level];
    auto it = std::lower_bound(buckets.begin(), buckets.end(), first,
                               [](const Bucket& b, std::int64_t i) { return b.index < i; });
    for (; it != buckets.end() && it->index <= last; ++it) {
        const bool lowFirst = it->low.key <= it->high.key;
        gather.add(lowFirst ? it->low : it->high);
        gather.add(lowFirst ? it->high : it->low);
    }
}

} // namespace diagnostika
