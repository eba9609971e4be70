#include "sampleformat.h"

#include <bit>

namespace diagnostika::alsa {

namespace {

// Little-endian reads that do not depend on the host's byte order or alignment.
std::uint32_t le(const std::byte* p, std::size_t n)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < n; ++i)
        v |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return v;
}

// The signed value of the low `bits` bits of `v`.
std::int32_t signExtend(std::uint32_t v, int bits)
{
    const std::uint32_t sign = 1u << (bits - 1);
    v &= (sign << 1) - 1;
    return static_cast<std::int32_t>(v ^ sign) - static_cast<std::int32_t>(sign);
}

float sampleAt(const std::byte* p, SampleFormat format)
{
    switch (format) {
    case SampleFormat::S16_LE:
        return static_cast<float>(signExtend(le(p, 2), 16) / 32768.0);
    case SampleFormat::S24_LE:
        return static_cast<float>(signExtend(le(p, 4), 24) / 8388608.0);
    case SampleFormat::S24_3LE:
        return static_cast<float>(signExtend(le(p, 3), 24) / 8388608.0);
    case SampleFormat::S32_LE:
        return static_cast<float>(static_cast<std::int32_t>(le(p, 4)) / 2147483648.0);
    case SampleFormat::FLOAT_LE:
        return std::bit_cast<float>(le(p, 4));
    }
    return 0.0f;
}

} // namespace

std::size_t bytesPerSample(SampleFormat format)
{
    switch (format) {
    case SampleFormat::S16_LE:
        return 2;
    case SampleFormat::S24_3LE:
        return 3;
    case SampleFormat::S24_LE:
    case SampleFormat::S32_LE:
    case SampleFormat::FLOAT_LE:
        return 4;
    }
    return 0;
}

std::string_view formatName(SampleFormat format)
{
    switch (format) {
    case SampleFormat::S16_LE:
        return "S16_LE";
    case SampleFormat::S24_LE:
        return "S24_LE";
    case SampleFormat::S24_3LE:
        return "S24_3LE";
    case SampleFormat::S32_LE:
        return "S32_LE";
    case SampleFormat::FLOAT_LE:
        return "FLOAT_LE";
    }
    return {};
}

void toFloat(const std::byte* data, SampleFormat format, int channels, int channel,
             std::size_t frames, float* out)
{
    const std::size_t size = bytesPerSample(format);
    const std::size_t stride = size * static_cast<std::size_t>(channels);
    const std::byte* p = data + size * static_cast<std::size_t>(channel);
    for (std::size_t i = 0; i < frames; ++i, p += stride)
        out[i] = sampleAt(p, format);
}

} // namespace diagnostika::alsa
