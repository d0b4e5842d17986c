#include "hosting/UntrustedText.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <gtest/gtest.h>

#include <string>

namespace
{
    struct Utf8Case
    {
        const char* what;
        std::string bytes;
        bool valid;
    };

    /** Each text passes the check exactly when it is expected to, and JUCE's
        reader only ever sees those that pass. */
    template <size_t n>
    void expectEachCase (bool (*check) (const juce::String&), const std::pair<const char*, bool> (&cases)[n])
    {
        for (const auto& [text, passes] : cases)
        {
            SCOPED_TRACE (text);
            EXPECT_EQ (check (text), passes);
            EXPECT_EQ (UntrustedText::parseXml (juce::String (text)) != nullptr, passes);
        }
    }

    juce::MemoryBlock wrapped (const std::string& text, juce::uint32 storedLength)
    {
        juce::MemoryOutputStream out;
        out.writeInt (0x21324356);
        out.writeInt ((int) storedLength);
        out.write (text.data(), text.size());
        return out.getMemoryBlock();
    }
}

TEST (UntrustedText, Utf8IsCheckedByteByByte)
{
    const Utf8Case cases[] {
        { "plain ASCII",                     "<VELLIX name=\"Pad\"/>",      true },
        { "two, three and four bytes",       "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8e\xb9", true },
        { "empty",                           "",                             true },
        { "lead byte at the end",            "<VELLIZ\xea",                  false },
        { "lead byte without continuation",  "a\xc3(",                       false },
        { "stray continuation byte",         "a\x80z",                       false },
        { "0xff",                            "\xff\xff\xff",                 false },
        { "overlong slash",                  "\xc0\xaf",                     false },
        { "overlong three bytes",            "\xe0\x80\xaf",                 false },
        { "surrogate half",                  "\xed\xa0\x80",                 false },
        { "above U+10FFFF",                  "\xf4\x90\x80\x80",             false },
        { "five-byte form",                  "\xf8\x88\x80\x80\x80",         false },
        { "zero byte inside",                std::string ("a\0b", 3),        false },
        // Long ASCII runs are skipped eight bytes at a time.
        { "long ASCII, then two bytes",      "abcdefghijklmnopq\xc3\xa9rstuvwxyz0123", true },
        { "zero byte in a long ASCII run",   std::string ("abcdefghijklm\0nopqrstuvwxyz", 27), false },
        { "0xff in a long ASCII run",        "abcdefghijklmnopqrs\xffxyz0123456789", false },
        { "lead byte after a long run",      "abcdefghijklmnop\xe2\x82", false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        EXPECT_EQ (UntrustedText::isValidUtf8 (c.bytes.data(), c.bytes.size()), c.valid);
    }
}

TEST (UntrustedText, ReferencesMustBeWellFormed)
{
    const std::pair<const char*, bool> cases[] {
        { "<a>&#x41;&#65;&amp;&lt;&gt;&quot;&apos;</a>", true },
        { "<a b=\"&unknown.name-2;\">no references</a>", true },
        { "<a>&#x10FFFF;&#1114111;</a>", true },
        { "<a>&#x",                      false },
        { "<a>&#x41",                    false },
        { "<a>&#X;</a>",                 false },
        { "<a>&#;</a>",                  false },
        { "<a>&#12a;</a>",               false },
        { "<a b=\"&#xZ1;\"/>",         false },
        { "<a>&#",                       false },
        { "<a>&#0;</a>",                 false },
        { "<a>&#x110000;</a>",           false },
        { "<a>&#xD800;</a>",             false },
        { "<a>&#99999999999999;</a>",    false },
        { "<a>&;</a>",                   false },
        { "<a>& b</a>",                  false },
        { "<a>&<b>&#x41;</b></a>",       false },
        { "<a>&.x;</a>",                 false },
    };

    expectEachCase (UntrustedText::hasOnlyWellFormedReferences, cases);
}

TEST (UntrustedText, ProcessingInstructionsOnlyBeforeTheFirstElement)
{
    const std::pair<const char*, bool> cases[] {
        { "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<A/>", true },
        { "<?xml version=\"1.0\"?><!-- note --><?other?><A/>",  true },
        { "<A>text &lt;?not one?&gt;</A>",                         true },
        { "<A><?pi?>\x04 text</A>",                               false },
        { "<A><B/><?xml version=\"1.0\"?>\x04</A>",             false },
    };

    expectEachCase (UntrustedText::hasNoProcessingInstructionInElements, cases);
}

TEST (UntrustedText, BinaryWrapperReadsAsJucesDoesForGoodInput)
{
    const std::string text = "<VELLIX name=\"Caf\xc3\xa9\"/>";

    juce::MemoryBlock jucesOwn;
    juce::AudioProcessor::copyXmlToBinary (*juce::parseXML (juce::String::fromUTF8 (text.c_str())), jucesOwn);
    const auto fromJuce = UntrustedText::xmlFromBinary (jucesOwn.getData(), (int) jucesOwn.getSize());
    ASSERT_NE (fromJuce, nullptr);
    EXPECT_EQ (fromJuce->getStringAttribute ("name"), juce::String::fromUTF8 ("Caf\xc3\xa9"));

    // A stored length beyond the data reads what is there; a shorter one cuts.
    const auto longer = wrapped (text, 100000);
    EXPECT_NE (UntrustedText::xmlFromBinary (longer.getData(), (int) longer.getSize()), nullptr);
    const auto cut = wrapped (text, 6);
    const auto fromCut = UntrustedText::xmlFromBinary (cut.getData(), (int) cut.getSize());
    EXPECT_TRUE (fromCut == nullptr || ! fromCut->hasTagName ("VELLIX"));

    const auto broken = wrapped ("<VELLIZ\xea", 1000);
    EXPECT_EQ (UntrustedText::xmlFromBinary (broken.getData(), (int) broken.getSize()), nullptr);

    const auto noLength = wrapped (text, 0);
    EXPECT_EQ (UntrustedText::xmlFromBinary (noLength.getData(), (int) noLength.getSize()), nullptr);
    EXPECT_EQ (UntrustedText::xmlFromBinary (jucesOwn.getData(), 8), nullptr);
    EXPECT_EQ (UntrustedText::xmlFromBinary (nullptr, 100), nullptr);
}

TEST (UntrustedText, FilesAreReadWholeWithinTheirLimit)
{
    const auto folder = juce::File::createTempFile ("untrusted");
    ASSERT_TRUE (folder.createDirectory());
    const auto file = folder.getChildFile ("index.xml");

    ASSERT_TRUE (file.replaceWithData ("\xef\xbb\xbf<VELLIX_LIBRARY/>", 20));
    const auto withMark = UntrustedText::parseXml (file);
    ASSERT_NE (withMark, nullptr);
    EXPECT_TRUE (withMark->hasTagName ("VELLIX_LIBRARY"));

    EXPECT_EQ (UntrustedText::parseXml (file, 10), nullptr);

    ASSERT_TRUE (file.replaceWithData ("<A b=\"\xff\"/>", 11));
    EXPECT_EQ (UntrustedText::parseXml (file), nullptr);

    // A document type could name a file to read or declare entities that
    // expand for ever; none of our files has one.
    const auto secret = folder.getChildFile ("secret.txt");
    ASSERT_TRUE (secret.replaceWithText ("hidden"));
    ASSERT_TRUE (file.replaceWithText ("<!DOCTYPE A SYSTEM \"secret.txt\"><A b=\"&e;\"/>"));
    EXPECT_EQ (UntrustedText::parseXml (file), nullptr);
    ASSERT_TRUE (file.replaceWithText ("<!DOCTYPE A [<!ENTITY e \"&e;&e;\">]><A>&e;</A>"));
    EXPECT_EQ (UntrustedText::parseXml (file), nullptr);
    ASSERT_TRUE (file.replaceWithText ("<A><!-- note --><![CDATA[<raw text>]]></A>"));
    EXPECT_NE (UntrustedText::parseXml (file), nullptr);

    EXPECT_EQ (UntrustedText::parseXml (folder.getChildFile ("missing.xml")), nullptr);
    folder.deleteRecursively();
}
