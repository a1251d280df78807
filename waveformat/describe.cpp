// WaveFormatDescribe and the usual channel masks it compares with.
#include "waveformat/describe.h"

#include "runtime/format.h"

// FC; FL FR; FL FR BL BR; FL FR FC LF SL SR; FL FR FC LF BL BR SL SR.
const uint32_t DefaultChannelMasks[9] = {0, 0x4, 0x3, 0, 0x33, 0, 0x60F, 0, 0x63F};

uint32_t WaveFormatDescribe(const WAVEFORMATEXTENSIBLE& format, WChar* buffer, uint32_t capacity, uint32_t flags) {
    // Both suffixes are at most "(ffffffff)", 10 characters.
    WChar container[12] = {0};
    WChar mask[12] = {0};
    WChar hexName[16];
    const WChar* name = nullptr;
    uint32_t bits = WaveFormatBitsPerSample(format);

    const GUID subFormat = WaveFormatEffectiveSubFormat(format);
    if (GuidEquals(subFormat, KSDATAFORMAT_SUBTYPE_PCM)) {
        name = u"PCM";
        // Plain PCM (tag 1) never shows a suffix; only extensible PCM has
        // valid bits and a channel mask to show.
        if (WaveFormatHasSubFormat(format)) {
            const uint32_t validBits = WaveFormatSamples(format);
            const uint32_t containerBytes = WaveFormatBitsPerSample(format) / 8;
            bits = validBits;
            if ((flags & DescribeFlagContainer) != 0 || (validBits + 7) / 8 != containerBytes) {
                FormatText(container, 12, u"(%u)", containerBytes);
            }
            const uint32_t channels = WaveFormatChannels(format);
            const uint32_t channelMask = WaveFormatChannelMask(format);
            // Only mono and stereo have a mask so common that it goes
            // without saying.
            const bool usualMask = channels <= 2 && channelMask == DefaultChannelMasks[channels];
            if ((flags & DescribeFlagMask) != 0 || !usualMask) {
                FormatText(mask, 12, u"(%x)", channelMask);
            }
        }
    } else if (GuidEquals(subFormat, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)) {
        name = u"Flt";
    }

    if (!WaveFormatIsPresent(format)) return FormatText(buffer, capacity, u"NoFormat");

    if (name == nullptr) {
        // An extensible tag is shown as the tag its SubFormat stands for:
        // the low half of Data1.
        uint32_t tag = WaveFormatTag(format);
        if (tag == WAVE_FORMAT_EXTENSIBLE) tag = ReadLe16(format.bytes + kOffset_SubFormat);
        name = FormatText16(hexName, u"(%x)", tag);
    }
    const WChar* prefix = WaveFormatHasSubFormat(format) ? u"Ext" : u"";
    return FormatText(buffer, capacity, u"%s%s/%u/%u%s/%u%s", prefix, name, WaveFormatSamplesPerSec(format), bits,
                      container, static_cast<uint32_t>(WaveFormatChannels(format)), mask);
}
