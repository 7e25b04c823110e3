// Text for the fuzz targets: UTF-16 built mostly from a small alphabet (separators, dots, a
// drive colon, '%', letters that fold across case in Latin, Greek and Cyrillic, a NUL) so that
// inputs collide and nest, with an escape to any 16-bit unit (unpaired surrogates included).
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qorvex::fuzz {

inline std::u16string ConsumeText(FuzzedDataProvider& in, std::size_t maxUnits) {
    static constexpr char16_t kAlphabet[] = {
        u'\\',     u'\\',     u'/',      u'a',      u'A',      u'b',      u'.',
        u'.',      u':',      u'c',      u'C',      u'%',      u'?',      u'\u00C4',
        u'\u00E4', u'\u03A3', u'\u03C3', u'\u03C2', u'\u0416', u'\u0436', u'\0'};
    const std::size_t units = in.ConsumeIntegralInRange<std::size_t>(0, maxUnits);
    std::u16string text;
    for (std::size_t i = 0; i < units && in.remaining_bytes() > 0; ++i) {
        const auto pick = in.ConsumeIntegral<std::uint8_t>();
        if (pick < 0xF0)
            text.push_back(kAlphabet[pick % (sizeof(kAlphabet) / sizeof(kAlphabet[0]))]);
        else
            text.push_back(static_cast<char16_t>(in.ConsumeIntegral<std::uint16_t>()));
    }
    return text;
}

}  // namespace qorvex::fuzz
