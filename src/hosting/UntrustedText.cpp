#include "hosting/UntrustedText.h"

#include <cstring>

namespace
{
    bool isContinuation (std::uint8_t byte) noexcept  { return (byte & 0xc0) == 0x80; }
    bool isDecimal (juce::juce_wchar c) noexcept        { return c >= '0' && c <= '9'; }

    bool isHex (juce::juce_wchar c) noexcept
    {
        return isDecimal (c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    }

    // Entity names: ASCII letters, '_' and ':' first, then also digits, '.'
    // and '-'; and any non-ASCII byte, as XML allows most of Unicode there.
    bool isNameStart (juce::juce_wchar c) noexcept
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || (c & 0x80) != 0;
    }

    bool isNameChar (juce::juce_wchar c) noexcept
    {
        return isNameStart (c) || isDecimal (c) || c == '.' || c == '-';
    }
}

bool UntrustedText::isValidUtf8 (const void* data, size_t size) noexcept
{
    const auto* bytes = static_cast<const std::uint8_t*> (data);
    size_t i = 0;

    while (i < size)
    {
        const auto lead = bytes[i];

        if (lead == 0)
            return false;

        if (lead < 0x80)
        {
            // Sounds are mostly base-64 text: skip plain ASCII eight bytes at a
            // time, as long as none of them is zero or above 0x7f.
            ++i;

            for (std::uint64_t word; size - i >= 8; i += 8)
            {
                std::memcpy (&word, bytes + i, 8);

                const auto hasZero = (word - 0x0101010101010101ull) & ~word & 0x8080808080808080ull;

                if (((word & 0x8080808080808080ull) | hasZero) != 0)
                    break;
            }

            continue;
        }

        size_t extra = 0;
        std::uint32_t lowest = 0;
        std::uint32_t code = 0;

        if ((lead & 0xe0) == 0xc0)       { extra = 1; lowest = 0x80;    code = lead & 0x1fu; }
        else if ((lead & 0xf0) == 0xe0)  { extra = 2; lowest = 0x800;   code = lead & 0x0fu; }
        else if ((lead & 0xf8) == 0xf0)  { extra = 3; lowest = 0x10000; code = lead & 0x07u; }
        else                             return false;

        if (size - i - 1 < extra)
            return false;

        for (size_t k = 1; k <= extra; ++k)
        {
            if (! isContinuation (bytes[i + k]))
                return false;

            code = (code << 6) | (bytes[i + k] & 0x3fu);
        }

        if (code < lowest || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff))
            return false;

        i += extra + 1;
    }

    return true;
}

bool UntrustedText::isValidUtf8 (const juce::String& text) noexcept
{
    const auto* raw = text.toRawUTF8();
    return isValidUtf8 (raw, std::strlen (raw));
}

bool UntrustedText::hasOnlyWellFormedReferences (const juce::String& text) noexcept
{
    // Searched by bytes: the markup that matters is ASCII, and the text
    // may not have been checked as UTF-8 yet.
    for (const auto* p = std::strchr (text.toRawUTF8(), '&'); p != nullptr; p = std::strchr (p, '&'))
    {
        const char* end = p + 1;

        if (*end == '#')
        {
            ++end;
            const bool hex = (*end == 'x' || *end == 'X');

            if (hex)
                ++end;

            const char* digits = end;
            std::uint32_t code = 0;

            while (hex ? isHex ((juce::juce_wchar) (unsigned char) *end) : isDecimal ((juce::juce_wchar) (unsigned char) *end))
            {
                const auto c = (juce::juce_wchar) (unsigned char) *end++;
                const auto digit = (std::uint32_t) (isDecimal (c) ? c - '0' : (c | 0x20) - 'a' + 10);
                code = code * (hex ? 16u : 10u) + digit;

                if (code > 0x10ffff)
                    return false;
            }

            if (end == digits || code == 0 || (code >= 0xd800 && code <= 0xdfff))
                return false;
        }
        else
        {
            if (! isNameStart ((juce::juce_wchar) (unsigned char) *end))
                return false;

            while (isNameChar ((juce::juce_wchar) (unsigned char) *end))
                ++end;
        }

        if (*end != ';')
            return false;

        p = end + 1;
    }

    return true;
}

bool UntrustedText::hasNoProcessingInstructionInElements (const juce::String& text) noexcept
{
    bool insideElements = false;

    for (const auto* p = std::strchr (text.toRawUTF8(), '<'); p != nullptr; p = std::strchr (p + 1, '<'))
    {
        if (p[1] == '?')
        {
            if (insideElements)
                return false;
        }
        else if (p[1] != '!')
        {
            insideElements = true;
        }
    }

    return true;
}

bool UntrustedText::hasNoDocumentTypeDeclaration (const juce::String& text) noexcept
{
    for (const auto* p = std::strstr (text.toRawUTF8(), "<!"); p != nullptr; p = std::strstr (p + 2, "<!"))
        if (std::strncmp (p + 2, "--", 2) != 0 && std::strncmp (p + 2, "[CDATA[", 7) != 0)
            return false;

    return true;
}

std::unique_ptr<juce::XmlElement> UntrustedText::parseXml (const juce::String& text)
{
    if (! isValidUtf8 (text))
        return {};

    return parseValidUtf8 (text);
}

std::unique_ptr<juce::XmlElement> UntrustedText::parseValidUtf8 (const juce::String& text)
{
    if (! hasOnlyWellFormedReferences (text) || ! hasNoProcessingInstructionInElements (text)
         || ! hasNoDocumentTypeDeclaration (text))
        return {};

    // Made from the text alone, the document has no file to read external
    // entities from either.
    juce::XmlDocument document (text);
    return document.getDocumentElement();
}

std::unique_ptr<juce::XmlElement> UntrustedText::parseXml (const juce::File& file, juce::int64 maxBytes)
{
    if (! file.existsAsFile() || file.getSize() > maxBytes)
        return {};

    juce::MemoryBlock bytes;

    if (! file.loadFileAsData (bytes) || (juce::int64) bytes.getSize() > maxBytes)
        return {};

    const auto* text = static_cast<const char*> (bytes.getData());
    auto length = bytes.getSize();

    // A byte-order mark that an editor may have added says nothing more.
    if (length >= 3 && std::memcmp (text, "\xef\xbb\xbf", 3) == 0)
    {
        text += 3;
        length -= 3;
    }

    if (! isValidUtf8 (text, length))
        return {};

    return parseValidUtf8 (juce::String::fromUTF8 (text, (int) length));
}

std::unique_ptr<juce::XmlElement> UntrustedText::xmlFromBinary (const void* data, int sizeInBytes)
{
    // JUCE's wrapper: "VC2!" as a little-endian number, the text's length,
    // then the text (copyXmlToBinary adds a zero byte after it).
    constexpr juce::uint32 magic = 0x21324356;

    if (data == nullptr || sizeInBytes <= 8 || juce::ByteOrder::littleEndianInt (data) != magic)
        return {};

    const auto stored = (int) juce::ByteOrder::littleEndianInt (juce::addBytesToPointer (data, 4));

    if (stored <= 0)
        return {};

    const auto* text = static_cast<const char*> (data) + 8;
    auto length = (size_t) juce::jmin (sizeInBytes - 8, stored);

    // The text ends at its first zero byte, as JUCE reads it.
    if (const auto* zero = static_cast<const char*> (std::memchr (text, 0, length)))
        length = (size_t) (zero - text);

    if (! isValidUtf8 (text, length))
        return {};

    return parseValidUtf8 (juce::String::fromUTF8 (text, (int) length));
}
