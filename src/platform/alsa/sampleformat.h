#pragma once
// The sample formats the ALSA input reads, and their conversion to float (-1..1 of full scale).
// Pure functions: no device.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace diagnostika::alsa {

enum class SampleFormat {
    S16_LE,  // 16-bit, two bytes
    S24_LE,  // 24-bit in the low three bytes of four
    S24_3LE, // 24-bit, three bytes
    S32_LE,  // 32-bit, four bytes
    FLOAT_LE,
};

// In the order the input prefers them when a device offers several: the finest first.
inline constexpr SampleFormat preferredFormats[] = {SampleFormat::S32_LE, SampleFormat::FLOAT_LE,
                                                    SampleFormat::S24_3LE, SampleFormat::S24_LE,
                                                    SampleFormat::S16_LE};

std::size_t bytesPerSample(SampleFormat format);
std::string_view formatName(SampleFormat format);

// Takes channel `channel` of `frames` interleaved frames of `channels` channels in `data` into
// `out` (`frames` floats). Integers map their full scale to -1..1 (the most negative code to -1);
// floats pass through as they are.
void toFloat(const std::byte* data, SampleFormat format, int channels, int channel,
             std::size_t frames, float* out);

} // namespace diagnostika::alsa
