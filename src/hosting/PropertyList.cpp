#include "hosting/PropertyList.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

namespace
{
    // Nesting deeper than this is refused: it keeps the recursive readers'
    // stack use small whatever the input says.
    constexpr int maximumDepth = 256;

    // A binary list may reference one object from many places; building a
    // tree from it could otherwise multiply a small file into a huge one.
    constexpr int maximumValues = 1 << 18;
    constexpr juce::uint64 maximumTextBytes = 64 * 1024 * 1024;

    const PropertyList& missingValue()
    {
        static const PropertyList missing;
        return missing;
    }

    bool isXmlSpace (char c) noexcept
    {
        return c == ' ' || c == '\t' || c == '\r' || c == '\n';
    }

    void appendUtf8 (std::string& out, juce::uint32 codePoint)
    {
        if (codePoint < 0x80)
        {
            out += (char) codePoint;
        }
        else if (codePoint < 0x800)
        {
            out += (char) (0xc0 | (codePoint >> 6));
            out += (char) (0x80 | (codePoint & 0x3f));
        }
        else if (codePoint < 0x10000)
        {
            out += (char) (0xe0 | (codePoint >> 12));
            out += (char) (0x80 | ((codePoint >> 6) & 0x3f));
            out += (char) (0x80 | (codePoint & 0x3f));
        }
        else
        {
            out += (char) (0xf0 | (codePoint >> 18));
            out += (char) (0x80 | ((codePoint >> 12) & 0x3f));
            out += (char) (0x80 | ((codePoint >> 6) & 0x3f));
            out += (char) (0x80 | (codePoint & 0x3f));
        }
    }

    bool isNameCharacter (char c) noexcept
    {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')
                || c == '_' || c == ':' || c == '-' || c == '.';
    }

    bool isValidCodePoint (juce::uint32 c) noexcept
    {
        return c > 0 && c <= 0x10ffff && (c < 0xd800 || c > 0xdfff);
    }

    /** Text from bytes that claim to be UTF-8; false when they are not. */
    bool utf8ToString (const std::string& bytes, juce::String& out)
    {
        if (bytes.empty())
        {
            out = {};
            return true;
        }

        if (std::memchr (bytes.data(), 0, bytes.size()) != nullptr
             || ! juce::CharPointer_UTF8::isValidString (bytes.data(), (int) bytes.size()))
            return false;

        out = juce::String::fromUTF8 (bytes.data(), (int) bytes.size());
        return true;
    }

    /** Decimal or 0x-hexadecimal, optionally signed, as written in XML lists.
        Values up to 2^64 - 1 are kept (wrapped into the signed type). */
    bool parseInteger (const juce::String& text, juce::int64& out)
    {
        auto s = text.trim();
        bool negative = false;

        if (s.startsWithChar ('-') || s.startsWithChar ('+'))
        {
            negative = s[0] == '-';
            s = s.substring (1);
        }

        int base = 10;

        if (s.startsWithIgnoreCase ("0x"))
        {
            base = 16;
            s = s.substring (2);
        }

        if (s.isEmpty())
            return false;

        juce::uint64 value = 0;

        for (auto p = s.getCharPointer(); ! p.isEmpty(); ++p)
        {
            const auto digit = juce::CharacterFunctions::getHexDigitValue (*p);

            if (digit < 0 || digit >= base)
                return false;

            if (value > (std::numeric_limits<juce::uint64>::max() - (juce::uint64) digit) / (juce::uint64) base)
                return false;

            value = value * (juce::uint64) base + (juce::uint64) digit;
        }

        if (negative)
        {
            if (value > (juce::uint64) std::numeric_limits<juce::int64>::max() + 1)
                return false;

            out = (juce::int64) (0 - value);
            return true;
        }

        out = (juce::int64) value;
        return true;
    }

    bool parseReal (const juce::String& text, double& out)
    {
        const auto s = text.trim();
        const auto lower = s.toLowerCase();

        if (lower == "nan")                                         { out = std::numeric_limits<double>::quiet_NaN(); return true; }
        if (lower == "inf" || lower == "infinity"
             || lower == "+inf" || lower == "+infinity")            { out = std::numeric_limits<double>::infinity(); return true; }
        if (lower == "-inf" || lower == "-infinity")                { out = -std::numeric_limits<double>::infinity(); return true; }

        if (s.isEmpty() || ! s.containsOnly ("0123456789+-.eE") || ! s.containsAnyOf ("0123456789"))
            return false;

        out = s.getDoubleValue();
        return true;
    }

    juce::String dateText (double secondsSince2001)
    {
        // Reference date of property lists: 2001-01-01 00:00:00 UTC.
        constexpr double referenceSeconds = 978307200.0;
        const auto ms = (secondsSince2001 + referenceSeconds) * 1000.0;

        if (! std::isfinite (ms) || std::abs (ms) > 1.0e15)
            return {};

        return juce::Time ((juce::int64) ms).toISO8601 (true);
    }
}

//==============================================================================
class PropertyList::XmlReader
{
public:
    XmlReader (const char* bytes, size_t numBytes) : data (bytes), size (numBytes) {}

    bool read (PropertyList& result)
    {
        if (startsWith ("\xef\xbb\xbf"))
            pos += 3;

        if (! skipMarkup())
            return false;

        Tag tag;

        if (! readTag (tag) || tag.closing)
            return false;

        if (tag.name == "plist")
        {
            if (tag.selfClosing || ! skipMarkup())
                return false;

            Tag valueTag;

            if (! readTag (valueTag) || valueTag.closing || ! readValue (valueTag, result, 0))
                return false;

            Tag end;

            if (! skipMarkup() || ! readTag (end) || ! end.closing || end.name != "plist")
                return false;
        }
        else if (! readValue (tag, result, 0))
        {
            return false;
        }

        return skipMarkup() && pos >= size;
    }

private:
    struct Tag
    {
        std::string name;
        bool closing = false;
        bool selfClosing = false;
    };

    const char* data;
    size_t size;
    size_t pos = 0;
    int valuesLeft = maximumValues;

    bool startsWith (const char* text) const noexcept
    {
        const auto length = std::strlen (text);
        return size - pos >= length && std::memcmp (data + pos, text, length) == 0;
    }

    bool skipPast (const char* terminator) noexcept
    {
        const auto length = std::strlen (terminator);

        for (; pos < size; ++pos)
        {
            if (startsWith (terminator))
            {
                pos += length;
                return true;
            }
        }

        return false;
    }

    /** A document type declaration, including an internal subset in brackets. */
    bool skipDoctype() noexcept
    {
        int brackets = 0;
        char quote = 0;

        for (; pos < size; ++pos)
        {
            const auto c = data[pos];

            if (quote != 0)                  { if (c == quote) quote = 0; }
            else if (c == '"' || c == '\'')  { quote = c; }
            else if (c == '[')               { ++brackets; }
            else if (c == ']')               { --brackets; }
            else if (c == '>' && brackets <= 0)
            {
                ++pos;
                return true;
            }
        }

        return false;
    }

    /** Whitespace, comments, processing instructions and declarations. */
    bool skipMarkup() noexcept
    {
        for (;;)
        {
            while (pos < size && isXmlSpace (data[pos]))
                ++pos;

            if (startsWith ("<!--"))
            {
                pos += 4;

                if (! skipPast ("-->"))
                    return false;
            }
            else if (startsWith ("<?"))
            {
                if (! skipPast ("?>"))
                    return false;
            }
            else if (startsWith ("<!DOCTYPE"))
            {
                if (! skipDoctype())
                    return false;
            }
            else
            {
                return true;
            }
        }
    }

    bool readTag (Tag& tag)
    {
        if (pos >= size || data[pos] != '<')
            return false;

        ++pos;
        tag = {};

        if (pos < size && data[pos] == '/')
        {
            tag.closing = true;
            ++pos;
        }

        while (pos < size && isNameCharacter (data[pos]))
            tag.name += data[pos++];

        if (tag.name.empty())
            return false;

        // Attributes carry nothing a value needs; skip them, quotes and all.
        char quote = 0;

        for (; pos < size; ++pos)
        {
            const auto c = data[pos];

            if (quote != 0)
            {
                if (c == quote)
                    quote = 0;
            }
            else if (c == '"' || c == '\'')
            {
                quote = c;
            }
            else if (c == '<')
            {
                return false;
            }
            else if (c == '>')
            {
                ++pos;
                return ! (tag.closing && tag.selfClosing);
            }
            else if (c == '/')
            {
                tag.selfClosing = true;
            }
            else if (! isXmlSpace (c))
            {
                tag.selfClosing = false;
            }
        }

        return false;
    }

    bool readEntity (std::string& out)
    {
        const auto start = ++pos;

        while (pos < size && pos - start < 12 && data[pos] != ';')
            ++pos;

        if (pos >= size || data[pos] != ';')
            return false;

        const std::string name (data + start, pos - start);
        ++pos;

        if (name == "amp")  { out += '&';  return true; }
        if (name == "lt")   { out += '<';  return true; }
        if (name == "gt")   { out += '>';  return true; }
        if (name == "quot") { out += '"';  return true; }
        if (name == "apos") { out += '\''; return true; }

        if (name.size() < 2 || name[0] != '#')
            return false;

        const bool hex = name[1] == 'x' || name[1] == 'X';
        const auto digits = name.substr (hex ? 2 : 1);

        if (digits.empty())
            return false;

        juce::uint32 codePoint = 0;

        for (auto c : digits)
        {
            const auto digit = juce::CharacterFunctions::getHexDigitValue ((juce::juce_wchar) (unsigned char) c);

            if (digit < 0 || digit >= (hex ? 16 : 10))
                return false;

            codePoint = codePoint * (hex ? 16u : 10u) + (juce::uint32) digit;

            if (codePoint > 0x10ffff)
                return false;
        }

        if (! isValidCodePoint (codePoint))
            return false;

        appendUtf8 (out, codePoint);
        return true;
    }

    /** Character data up to the closing tag of `name`. */
    bool readText (const std::string& name, juce::String& result)
    {
        std::string bytes;

        while (pos < size)
        {
            const auto c = data[pos];

            if (c == '&')
            {
                if (! readEntity (bytes))
                    return false;
            }
            else if (c != '<')
            {
                bytes += c;
                ++pos;
            }
            else if (startsWith ("<!--"))
            {
                pos += 4;

                if (! skipPast ("-->"))
                    return false;
            }
            else if (startsWith ("<![CDATA["))
            {
                pos += 9;
                const auto start = pos;

                if (! skipPast ("]]>"))
                    return false;

                bytes.append (data + start, pos - 3 - start);
            }
            else
            {
                Tag end;

                if (! readTag (end) || ! end.closing || end.name != name)
                    return false;

                return utf8ToString (bytes, result);
            }
        }

        return false;
    }

    bool readContent (const Tag& tag, juce::String& result)
    {
        if (tag.selfClosing)
        {
            result = {};
            return true;
        }

        return readText (tag.name, result);
    }

    bool readValue (const Tag& tag, PropertyList& out, int depth)
    {
        if (depth > maximumDepth || --valuesLeft < 0)
            return false;

        const auto& name = tag.name;

        if (name == "dict" || name == "array")
        {
            out = name == "dict" ? makeDictionary() : makeArray();

            if (tag.selfClosing)
                return true;

            for (;;)
            {
                if (! skipMarkup())
                    return false;

                Tag next;

                if (! readTag (next))
                    return false;

                if (next.closing)
                    return next.name == name;

                juce::String key;

                if (out.isDictionary())
                {
                    if (next.name != "key" || ! readContent (next, key) || ! skipMarkup() || ! readTag (next) || next.closing)
                        return false;
                }

                PropertyList element;

                if (! readValue (next, element, depth + 1))
                    return false;

                if (out.isDictionary())
                    out.set (key, std::move (element));
                else
                    out.add (std::move (element));
            }
        }

        juce::String content;

        if (! readContent (tag, content))
            return false;

        if (name == "string")
        {
            out = makeString (content);
            return true;
        }

        if (name == "integer")
        {
            juce::int64 value = 0;

            if (! parseInteger (content, value))
                return false;

            out = makeInteger (value);
            return true;
        }

        if (name == "real")
        {
            double value = 0.0;

            if (! parseReal (content, value))
                return false;

            out = makeReal (value);
            return true;
        }

        if (name == "true" || name == "false")
        {
            if (content.trim().isNotEmpty())
                return false;

            out = makeBoolean (name == "true");
            return true;
        }

        if (name == "date")
        {
            out = makeDate (content.trim());
            return true;
        }

        if (name == "data")
        {
            juce::MemoryOutputStream decoded;

            if (! juce::Base64::convertFromBase64 (decoded, content.removeCharacters (" \t\r\n")))
                return false;

            out = makeData (decoded.getMemoryBlock());
            return true;
        }

        return false;
    }
};

//==============================================================================
class PropertyList::BinaryReader
{
public:
    BinaryReader (const juce::uint8* bytes, size_t numBytes) : data (bytes), size (numBytes) {}

    bool read (PropertyList& result)
    {
        constexpr size_t headerSize = 8, trailerSize = 32;

        if (size < headerSize + trailerSize + 1 || std::memcmp (data, "bplist00", headerSize) != 0)
            return false;

        const auto* trailer = data + size - trailerSize;
        offsetSize = trailer[6];
        refSize = trailer[7];
        const auto numObjects = bigEndian (trailer + 8, 8);
        const auto topObject = bigEndian (trailer + 16, 8);
        offsetTable = bigEndian (trailer + 24, 8);

        if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8)
            return false;

        // Objects lie between the header and the offset table; the table ends
        // where the trailer starts.
        const auto tableSpace = (juce::uint64) (size - trailerSize);

        if (offsetTable < headerSize || offsetTable >= tableSpace
             || numObjects == 0 || numObjects > (tableSpace - offsetTable) / offsetSize
             || topObject >= numObjects)
            return false;

        objectCount = numObjects;
        onPath.assign ((size_t) numObjects, false);
        return readObject (topObject, result, 0);
    }

private:
    const juce::uint8* data;
    size_t size;
    juce::uint64 offsetSize = 0, refSize = 0, offsetTable = 0, objectCount = 0;
    std::vector<bool> onPath;
    int valuesLeft = maximumValues;
    juce::uint64 textBytesLeft = maximumTextBytes;

    static juce::uint64 bigEndian (const juce::uint8* p, size_t numBytes) noexcept
    {
        juce::uint64 value = 0;

        for (size_t i = 0; i < numBytes; ++i)
            value = (value << 8) | p[i];

        return value;
    }

    /** Whether [start, start + count * unit) lies inside the object area. */
    bool fits (juce::uint64 start, juce::uint64 count, juce::uint64 unit) const noexcept
    {
        return start <= offsetTable && count <= (offsetTable - start) / unit;
    }

    bool readRef (juce::uint64 at, juce::uint64& ref) const noexcept
    {
        ref = bigEndian (data + at, (size_t) refSize);
        return ref < objectCount;
    }

    /** A length: the low nibble, or an integer object after the marker. */
    bool readCount (juce::uint64 offset, juce::uint64& count, juce::uint64& next) const noexcept
    {
        const auto info = data[offset] & 0x0f;

        if (info != 0x0f)
        {
            count = (juce::uint64) info;
            next = offset + 1;
            return true;
        }

        if (! fits (offset + 1, 1, 1))
            return false;

        const auto marker = data[offset + 1];

        if ((marker & 0xf0) != 0x10 || (marker & 0x0f) > 3)
            return false;

        const auto numBytes = (juce::uint64) 1 << (marker & 0x0f);

        if (! fits (offset + 2, numBytes, 1))
            return false;

        count = bigEndian (data + offset + 2, (size_t) numBytes);
        next = offset + 2 + numBytes;
        return true;
    }

    bool readObject (juce::uint64 ref, PropertyList& out, int depth)
    {
        if (depth > maximumDepth || --valuesLeft < 0 || onPath[(size_t) ref])
            return false;

        const auto offset = bigEndian (data + offsetTable + ref * offsetSize, (size_t) offsetSize);

        if (offset < 8 || offset >= offsetTable)
            return false;

        const auto marker = data[offset];
        const auto info = marker & 0x0f;

        switch (marker >> 4)
        {
            case 0x0:
                if (marker != 0x08 && marker != 0x09)
                    return false;

                out = makeBoolean (marker == 0x09);
                return true;

            case 0x1:
            {
                if (info > 4)
                    return false;

                const auto numBytes = (juce::uint64) 1 << info;

                if (! fits (offset + 1, numBytes, 1))
                    return false;

                // 16-byte integers keep their low 64 bits; 1, 2 and 4 bytes are unsigned.
                const auto start = offset + 1 + (numBytes > 8 ? numBytes - 8 : 0);
                out = makeInteger ((juce::int64) bigEndian (data + start, (size_t) juce::jmin<juce::uint64> (numBytes, 8)));
                return true;
            }

            case 0x2:
            {
                if (info != 2 && info != 3)
                    return false;

                const auto numBytes = (juce::uint64) 1 << info;

                if (! fits (offset + 1, numBytes, 1))
                    return false;

                out = makeReal (realAt (offset + 1, numBytes));
                return true;
            }

            case 0x3:
                if (marker != 0x33 || ! fits (offset + 1, 8, 1))
                    return false;

                out = makeDate (dateText (realAt (offset + 1, 8)));
                return true;

            case 0x4:
            case 0x5:
            case 0x6:
            {
                juce::uint64 count = 0, start = 0;
                const juce::uint64 unit = (marker >> 4) == 0x6 ? 2 : 1;

                if (! readCount (offset, count, start) || ! fits (start, count, unit)
                     || count * unit > textBytesLeft)
                    return false;

                textBytesLeft -= count * unit;

                const auto* p = data + start;

                if ((marker >> 4) == 0x4)
                    out = makeData (juce::MemoryBlock (p, (size_t) count));
                else if ((marker >> 4) == 0x5)
                    out = makeString (asciiText (p, (size_t) count));
                else
                    out = makeString (utf16Text (p, (size_t) count));

                return true;
            }

            case 0x8:
                if (! fits (offset + 1, (juce::uint64) info + 1, 1) || info > 7)
                    return false;

                out = makeInteger ((juce::int64) bigEndian (data + offset + 1, (size_t) info + 1));
                return true;

            case 0xa:
            case 0xc:
            case 0xd:
            {
                const bool isDictionary = (marker >> 4) == 0xd;
                juce::uint64 count = 0, start = 0;

                if (! readCount (offset, count, start)
                     || ! fits (start, count, refSize * (isDictionary ? 2 : 1)))
                    return false;

                out = isDictionary ? makeDictionary() : makeArray();
                onPath[(size_t) ref] = true;

                for (juce::uint64 i = 0; i < count; ++i)
                {
                    juce::uint64 valueRef = 0;
                    PropertyList element;

                    if (! readRef (start + (isDictionary ? count + i : i) * refSize, valueRef)
                         || ! readObject (valueRef, element, depth + 1))
                        return false;

                    if (isDictionary)
                    {
                        juce::uint64 keyRef = 0;
                        PropertyList key;

                        if (! readRef (start + i * refSize, keyRef)
                             || ! readObject (keyRef, key, depth + 1)
                             || key.kind != Kind::string)
                            return false;

                        out.set (key.text, std::move (element));
                    }
                    else
                    {
                        out.add (std::move (element));
                    }
                }

                onPath[(size_t) ref] = false;
                return true;
            }

            default:
                return false;
        }
    }

    double realAt (juce::uint64 at, juce::uint64 numBytes) const noexcept
    {
        const auto bits = bigEndian (data + at, (size_t) numBytes);

        if (numBytes == 4)
        {
            float value;
            const auto bits32 = (juce::uint32) bits;
            std::memcpy (&value, &bits32, sizeof (value));
            return value;
        }

        double value;
        std::memcpy (&value, &bits, sizeof (value));
        return value;
    }

    static juce::String asciiText (const juce::uint8* p, size_t count)
    {
        juce::String result;
        result.preallocateBytes (count);

        for (size_t i = 0; i < count; ++i)
            if (p[i] != 0)
                result += (juce::juce_wchar) p[i];

        return result;
    }

    static juce::String utf16Text (const juce::uint8* p, size_t count)
    {
        std::string utf8;

        for (size_t i = 0; i < count; ++i)
        {
            juce::uint32 unit = ((juce::uint32) p[2 * i] << 8) | p[2 * i + 1];

            if (unit >= 0xd800 && unit < 0xdc00 && i + 1 < count)
            {
                const juce::uint32 low = ((juce::uint32) p[2 * i + 2] << 8) | p[2 * i + 3];

                if (low >= 0xdc00 && low < 0xe000)
                {
                    unit = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
                    ++i;
                }
            }

            if (unit == 0)
                continue;

            appendUtf8 (utf8, isValidCodePoint (unit) ? unit : 0xfffd);
        }

        return juce::String::fromUTF8 (utf8.data(), (int) utf8.size());
    }
};

//==============================================================================
PropertyList PropertyList::readFile (const juce::File& file)
{
    const auto fileSize = file.getSize();

    if (! file.existsAsFile() || fileSize <= 0 || fileSize > maximumFileSize)
        return {};

    juce::MemoryBlock bytes;

    if (! file.loadFileAsData (bytes) || bytes.getSize() > (size_t) maximumFileSize)
        return {};

    return parse (bytes.getData(), bytes.getSize());
}

PropertyList PropertyList::parse (const void* data, size_t size)
{
    PropertyList result;

    if (data == nullptr || size == 0)
        return result;

    const bool ok = size >= 6 && std::memcmp (data, "bplist", 6) == 0
                        ? BinaryReader (static_cast<const juce::uint8*> (data), size).read (result)
                        : XmlReader (static_cast<const char*> (data), size).read (result);

    if (! ok)
        return {};

    return result;
}

const PropertyList& PropertyList::operator[] (const juce::String& key) const
{
    // The last of several equal keys wins, as it would when a dictionary is
    // filled in file order.
    if (kind == Kind::dictionary)
        for (auto i = keys.size(); --i >= 0;)
            if (keys[i] == key)
                return elements[(size_t) i];

    return missingValue();
}

juce::uint32 PropertyList::getUnsignedValue() const noexcept
{
    switch (kind)
    {
        case Kind::integer:
        case Kind::boolean:
            return (juce::uint32) (juce::uint64) integer;

        case Kind::real:
        {
            if (std::isnan (real))
                return 0;

            const auto clamped = juce::jlimit (-9.2e18, 9.2e18, real);
            return (juce::uint32) (juce::uint64) (juce::int64) clamped;
        }

        case Kind::missing:
        case Kind::dictionary:
        case Kind::array:
        case Kind::string:
        case Kind::date:
        case Kind::data:
            break;
    }

    return 0;
}

juce::String PropertyList::getText() const
{
    switch (kind)
    {
        case Kind::string:
        case Kind::date:
            return text;

        case Kind::integer:   return juce::String (integer);
        case Kind::real:      return juce::String (real);
        case Kind::boolean:   return integer != 0 ? "1" : "0";
        case Kind::data:      return "<" + juce::String::toHexString (bytes.getData(), (int) bytes.getSize(), 0) + ">";

        case Kind::array:
        {
            juce::StringArray parts;

            for (const auto& element : elements)
                parts.add (element.getText());

            return "(" + parts.joinIntoString (", ") + ")";
        }

        case Kind::dictionary:
        {
            juce::StringArray parts;

            for (int i = 0; i < keys.size(); ++i)
                parts.add (keys[i] + " = " + elements[(size_t) i].getText() + ";");

            return "{" + parts.joinIntoString (" ") + "}";
        }

        case Kind::missing:
            break;
    }

    return {};
}

//==============================================================================
PropertyList PropertyList::makeString (const juce::String& value)
{
    PropertyList result;
    result.kind = Kind::string;
    result.text = value;
    return result;
}

PropertyList PropertyList::makeInteger (juce::int64 value)
{
    PropertyList result;
    result.kind = Kind::integer;
    result.integer = value;
    return result;
}

PropertyList PropertyList::makeReal (double value)
{
    PropertyList result;
    result.kind = Kind::real;
    result.real = value;
    return result;
}

PropertyList PropertyList::makeBoolean (bool value)
{
    PropertyList result;
    result.kind = Kind::boolean;
    result.integer = value ? 1 : 0;
    return result;
}

PropertyList PropertyList::makeDate (const juce::String& value)
{
    PropertyList result;
    result.kind = Kind::date;
    result.text = value;
    return result;
}

PropertyList PropertyList::makeData (const juce::MemoryBlock& value)
{
    PropertyList result;
    result.kind = Kind::data;
    result.bytes = value;
    return result;
}

PropertyList PropertyList::makeArray()
{
    PropertyList result;
    result.kind = Kind::array;
    return result;
}

PropertyList PropertyList::makeDictionary()
{
    PropertyList result;
    result.kind = Kind::dictionary;
    return result;
}

void PropertyList::add (PropertyList element)
{
    if (kind == Kind::array)
        elements.push_back (std::move (element));
}

void PropertyList::set (const juce::String& key, PropertyList value)
{
    // Equal keys are kept; lookups take the last. Replacing here would make
    // reading a large dictionary quadratic.
    if (kind != Kind::dictionary)
        return;

    keys.add (key);
    elements.push_back (std::move (value));
}
