#pragma once

#include <juce_core/juce_core.h>

#include <cstddef>
#include <memory>

/** Checks on text that comes from files and other programs (sounds, library
    indexes, plug-in descriptions) before JUCE's readers see it.

    JUCE 7.0.5 walks UTF-8 by its lead bytes, so a malformed sequence makes its
    string and XML code step over the terminating zero and read past the end
    of the text; its XML reader also steps past the end after an unfinished
    "&#x" character reference, writes malformed UTF-8 for a reference to a
    character that does not exist, and never returns from some text after
    a processing instruction. Text that fails these checks is refused whole,
    as any unreadable file would be, and never reaches those readers. */
class UntrustedText
{
public:
    /** True when the bytes are well-formed UTF-8 without a zero byte:
        shortest forms only, no surrogates, nothing above U+10FFFF. */
    static bool isValidUtf8 (const void* data, size_t size) noexcept;

    /** The same check on a string's own bytes. */
    static bool isValidUtf8 (const juce::String& text) noexcept;

    /** True when every "&" starts a well-formed reference: a name, or "#"
        with decimal or "x" with hex digits for a character from U+0001 to
        U+10FFFF that is not a surrogate, then ";". (JUCE reads everything up
        to the next ";" as an entity's name, markup included, and parses a
        name that starts with "<" as elements, cut off wherever that ";" was.) */
    static bool hasOnlyWellFormedReferences (const juce::String& text) noexcept;

    /** True when no processing instruction ("<?...?>") comes after the
        first element's start: JUCE's reader loops for ever on text that
        follows one inside an element. */
    static bool hasNoProcessingInstructionInElements (const juce::String& text) noexcept;

    /** True when the only "<!" markup is comments and CDATA sections. A
        document type declaration is refused: JUCE expands the entities it
        declares recursively, without limit, and may read files it names. */
    static bool hasNoDocumentTypeDeclaration (const juce::String& text) noexcept;

    /** Parses XML text that passed these checks; nullptr otherwise or when it
        is not well-formed. External entities are never read from disk. */
    static std::unique_ptr<juce::XmlElement> parseXml (const juce::String& text);

    /** Parses a whole file of at most maxBytes bytes as XML. */
    static std::unique_ptr<juce::XmlElement> parseXml (const juce::File& file, juce::int64 maxBytes = 64 * 1024 * 1024);

    /** The XML inside JUCE's binary wrapper (magic number, length, UTF-8
        text), read as AudioProcessor::getXmlFromBinary reads it. */
    static std::unique_ptr<juce::XmlElement> xmlFromBinary (const void* data, int sizeInBytes);

private:
    /** parseXml for text whose UTF-8 has been checked already. */
    static std::unique_ptr<juce::XmlElement> parseValidUtf8 (const juce::String& text);
};
