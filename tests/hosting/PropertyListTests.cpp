#include "CatalogueTestSupport.h"

#include <chrono>

using namespace catalogue;

namespace
{
    Node sampleList()
    {
        return dict ({
            { "CFBundleIdentifier", str ("com.acme.synth") },
            { "Version", num (70000) },
            { "Enabled", boolean (true) },
            { "Big", num (5000000000LL) },
            { "Negative", num (-1) },
            { "Text", str ("Caf\xc3\xa9 & <Friends>") },
            { "Long", str (std::string (40, 'x')) },
            { "AudioComponents", arr ({ component ("aumu", "Abcd", "Wxyz", "Acme: Big Synth"),
                                        dict ({ { "type", num (1635085685) }, { "list", arr ({}) } }) }) },
        });
    }

    juce::uint32 codeOf (const char* text)
    {
        return juce::ByteOrder::bigEndianInt (text);
    }
}

TEST (PropertyList, XmlAndBinaryEncodingsReadTheSame)
{
    const auto xml = parse (toXml (sampleList()));
    const auto binary = parse (toBinary (sampleList()));

    for (const auto* list : { &xml, &binary })
    {
        SCOPED_TRACE (list == &xml ? "XML" : "binary");
        ASSERT_TRUE (list->isDictionary());

        const auto& p = *list;
        EXPECT_EQ (p["CFBundleIdentifier"].getText(), "com.acme.synth");
        EXPECT_EQ (p["Version"].getUnsignedValue(), 70000u);
        EXPECT_TRUE (p["Enabled"].isNumber());
        EXPECT_EQ (p["Enabled"].getUnsignedValue(), 1u);
        EXPECT_EQ (p["Big"].getUnsignedValue(), (juce::uint32) (5000000000LL & 0xffffffff));
        EXPECT_EQ (p["Negative"].getUnsignedValue(), 0xffffffffu);
        EXPECT_EQ (p["Text"].getText(), juce::String::fromUTF8 ("Caf\xc3\xa9 & <Friends>"));
        EXPECT_EQ (p["Long"].getText(), juce::String::repeatedString ("x", 40));
        EXPECT_FALSE (p["Missing"].exists());
        EXPECT_FALSE (p["AudioComponents"]["type"].exists());

        const auto& components = p["AudioComponents"].getElements();
        ASSERT_EQ (components.size(), 2u);
        EXPECT_EQ (components[0]["name"].getText(), "Acme: Big Synth");
        EXPECT_EQ (components[1]["type"].getUnsignedValue(), codeOf ("aumu"));
        EXPECT_TRUE (components[1]["list"].isArray());
    }

    EXPECT_EQ (xml.getText(), binary.getText());
}

TEST (PropertyList, XmlForms)
{
    struct Case { const char* name; std::string body; juce::String text; juce::uint32 number; };

    const Case cases[] = {
        { "entities",         "<string>a &amp; b &lt;c&gt; &quot;&apos; &#65;&#x42;</string>",  "a & b <c> \"' AB", 0 },
        { "CDATA",            "<string><![CDATA[<raw> & more]]></string>",                     "<raw> & more", 0 },
        { "comment inside",   "<string>ab<!-- not here -->cd</string>",                        "abcd", 0 },
        { "empty string",     "<string/>",                                                     "", 0 },
        { "hex integer",      "<integer>0x61756D75</integer>",                                 "1635085685", 1635085685u },
        { "negative integer", "<integer> -2 </integer>",                                       "-2", 0xfffffffeu },
        { "real",             "<real>3.75</real>",                                             "3.75", 3u },
        { "false",            "<false/>",                                                      "0", 0 },
        { "true with close",  "<true></true>",                                                 "1", 1 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto list = parse ("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>v</key>" + c.body + "</dict></plist>");
        ASSERT_TRUE (list.isDictionary());
        EXPECT_EQ (list["v"].getText(), c.text);
        EXPECT_EQ (list["v"].getUnsignedValue(), c.number);
    }
}

TEST (PropertyList, XmlWithoutPlistElementAndRepeatedKeys)
{
    const auto list = parse (std::string ("\xef\xbb\xbf<!-- top --><dict><key>k</key><string>first</string>"
                                          "<key>k</key><string>last</string></dict>\n"));
    ASSERT_TRUE (list.isDictionary());
    EXPECT_EQ (list["k"].getText(), "last");
}

TEST (PropertyList, MalformedXmlIsUnreadable)
{
    std::string deep;

    for (int i = 0; i < 50000; ++i)
        deep += "<array>";

    const std::pair<const char*, std::string> cases[] = {
        { "empty",                 "" },
        { "no root",               "<?xml version=\"1.0\"?>" },
        { "unterminated dict",     "<plist><dict><key>a</key><string>b</string>" },
        { "mismatched close",      "<plist><dict><key>a</key><string>b</integer></dict></plist>" },
        { "key without value",     "<plist><dict><key>a</key></dict></plist>" },
        { "value without key",     "<plist><dict><string>b</string></dict></plist>" },
        { "text in array",         "<plist><array>loose<string>b</string></array></plist>" },
        { "bad integer",           "<plist><integer>12ab</integer></plist>" },
        { "integer overflow",      "<plist><integer>99999999999999999999999</integer></plist>" },
        { "bad real",              "<plist><real>fast</real></plist>" },
        { "unknown element",       "<plist><thing/></plist>" },
        { "unknown entity",        "<plist><string>&nbsp;</string></plist>" },
        { "zero character",        "<plist><string>&#0;</string></plist>" },
        { "surrogate character",   "<plist><string>&#xD800;</string></plist>" },
        { "invalid UTF-8",         "<plist><string>\xff\xfe</string></plist>" },
        { "bad base64",            "<plist><data>!!!!</data></plist>" },
        { "trailing element",      "<plist><string>a</string></plist><plist/>" },
        { "two values in plist",   "<plist><string>a</string><string>b</string></plist>" },
        { "unterminated comment",  "<plist><!-- <string>a</string></plist>" },
        { "unterminated doctype",  "<!DOCTYPE plist [ <plist><string>a</string></plist>" },
        { "nesting too deep",      deep },
    };

    for (const auto& [name, text] : cases)
    {
        SCOPED_TRACE (name);
        EXPECT_FALSE (parse (text).exists());
    }
}

TEST (PropertyList, MalformedBinaryIsUnreadable)
{
    const auto valid = toBinary (dict ({ { "a", str ("b") } }));
    ASSERT_TRUE (parse (valid).isDictionary());

    auto withTrailerByte = [&] (size_t fromEnd, std::uint8_t value)
    {
        auto bytes = valid;
        bytes[bytes.size() - fromEnd] = value;
        return bytes;
    };

    // Object 0 is an array whose only element is object 0 itself.
    const auto cycle = assembleBinary ({ { 0xa1, 0x00 } }, 0, 1);

    // A chain of one-element arrays, each holding the next.
    std::vector<Bytes> chain;
    for (int i = 0; i < 2000; ++i)
        chain.push_back (i + 1 < 2000 ? Bytes { 0xa1, (std::uint8_t) ((i + 1) >> 8), (std::uint8_t) (i + 1) } : Bytes { 0x10, 0x01 });

    // Ten levels of 200 references each to the level below: a few kilobytes
    // that would describe 200^10 values if read as a tree.
    std::vector<Bytes> wide;
    for (int level = 0; level < 10; ++level)
    {
        Bytes array;
        appendMarker (array, 0xa, 200);
        for (int i = 0; i < 200; ++i)
            appendBigEndian (array, (std::uint64_t) level + 1, 2);
        wide.push_back (array);
    }
    wide.push_back ({ 0x10, 0x01 });

    const std::pair<const char*, Bytes> cases[] = {
        { "header only",             Bytes { 'b', 'p', 'l', 'i', 's', 't', '0', '0' } },
        { "truncated",               Bytes (valid.begin(), valid.end() - 5) },
        { "other version",           [&] { auto b = valid; b[7] = '1'; return b; }() },
        { "offset size zero",        withTrailerByte (26, 0) },
        { "offset size nine",        withTrailerByte (26, 9) },
        { "ref size zero",           withTrailerByte (25, 0) },
        { "no objects",              withTrailerByte (17, 0) },
        { "top beyond objects",      withTrailerByte (9, 200) },
        { "table beyond file",       withTrailerByte (1, 250) },
        { "table in header",         withTrailerByte (1, 2) },
        { "object offset beyond",    [] { auto b = assembleBinary ({ { 0x51, 'a' } }, 0, 1);
                                          b[b.size() - 33] = 0xf0;   // low byte of the only offset
                                          return b; }() },
        { "reference beyond",        assembleBinary ({ { 0xa1, 0x05 } }, 0, 1) },
        { "string beyond",           assembleBinary ({ { 0x5e, 'a' } }, 0, 1) },
        { "long count beyond",       assembleBinary ({ { 0x5f, 0x13, 0x7f, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff } }, 0, 1) },
        { "count not an integer",    assembleBinary ({ { 0x5f, 0x51, 'a' } }, 0, 1) },
        { "key not a string",        assembleBinary ({ { 0xd1, 0x01, 0x01 }, { 0x10, 0x01 } }, 0, 1) },
        { "unknown marker",          assembleBinary ({ { 0x70 } }, 0, 1) },
        { "null object",             assembleBinary ({ { 0x00 } }, 0, 1) },
        { "integer of 32 bytes",     assembleBinary ({ { 0x15, 0, 0, 0, 0 } }, 0, 1) },
        { "cycle",                   cycle },
        { "nesting too deep",        assembleBinary (chain, 0, 2) },
        { "shared too often",        assembleBinary (wide, 0, 2) },
    };

    for (const auto& [name, bytes] : cases)
    {
        SCOPED_TRACE (name);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE (parse (bytes).exists());
        EXPECT_LT (std::chrono::steady_clock::now() - start, std::chrono::seconds (2));
    }
}

TEST (PropertyList, BinaryForms)
{
    // A shared string referenced twice is fine: sharing is not a cycle.
    const auto shared = parse (assembleBinary ({ { 0xa2, 0x01, 0x01 }, { 0x52, 'h', 'i' } }, 0, 1));
    ASSERT_TRUE (shared.isArray());
    ASSERT_EQ (shared.getElements().size(), 2u);
    EXPECT_EQ (shared.getElements()[1].getText(), "hi");

    struct Case { const char* name; Bytes object; juce::String text; juce::uint32 number; };

    const Case cases[] = {
        { "16-byte integer keeps low bits", { 0x14, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0, 0, 0, 0, 0x61, 0x75, 0x6d, 0x75 }, "1635085685", 1635085685u },
        { "8-byte negative",                { 0x13, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfe }, "-2", 0xfffffffeu },
        { "float",                          { 0x22, 0x40, 0x70, 0x00, 0x00 }, "3.75", 3u },
        { "UTF-16 with surrogate pair",     { 0x63, 0x00, 0x41, 0xd8, 0x3d, 0xde, 0x00 }, juce::String::fromUTF8 ("A\xf0\x9f\x98\x80"), 0 },
        { "lone surrogate replaced",        { 0x61, 0xdc, 0x00 }, juce::String::fromUTF8 ("\xef\xbf\xbd"), 0 },
        { "empty string",                   { 0x50 }, "", 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        const auto value = parse (assembleBinary ({ c.object }, 0, 1));
        ASSERT_TRUE (value.exists());
        EXPECT_EQ (value.getText(), c.text);
        EXPECT_EQ (value.getUnsignedValue(), c.number);
    }
}

TEST (PropertyList, FilesTooLargeOrMissingAreUnreadable)
{
    TemporaryFolder temp;
    EXPECT_FALSE (PropertyList::readFile (temp / "absent.plist").exists());
    EXPECT_FALSE (PropertyList::readFile (temp.folder).exists());

    const auto large = temp / "large.plist";
    juce::FileOutputStream out (large);
    out << "<plist><string>";
    out.writeRepeatedByte ('x', (size_t) PropertyList::maximumFileSize);
    out << "</string></plist>";
    out.flush();
    EXPECT_FALSE (PropertyList::readFile (large).exists());
}
