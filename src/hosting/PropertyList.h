#pragma once

#include <juce_core/juce_core.h>

#include <vector>

/** One value of a property list (a bundle's Info.plist), read from either of
    its two encodings: XML or binary ("bplist00").

    Only what the component folder reading needs is offered: a dictionary's
    entry by key, an array's elements in order, a number's unsigned value and
    any other value as text. Both readers take untrusted bytes: every offset,
    count and reference is checked, nesting is limited, and anything malformed
    makes the whole list unreadable rather than half-read.
*/
class PropertyList
{
public:
    enum class Kind
    {
        missing,
        dictionary,
        array,
        string,
        integer,
        real,
        boolean,
        date,
        data
    };

    PropertyList() = default;

    /** Reads a file in either encoding; a missing value when it cannot be read. */
    static PropertyList readFile (const juce::File& file);

    /** Reads bytes in either encoding, picked from their start. */
    static PropertyList parse (const void* data, size_t size);

    /** Files larger than this are not read: no bundle's Info.plist comes near. */
    static constexpr juce::int64 maximumFileSize = 8 * 1024 * 1024;

    Kind getKind() const noexcept             { return kind; }
    bool exists() const noexcept              { return kind != Kind::missing; }
    bool isDictionary() const noexcept        { return kind == Kind::dictionary; }
    bool isArray() const noexcept             { return kind == Kind::array; }
    bool isNumber() const noexcept            { return kind == Kind::integer || kind == Kind::real || kind == Kind::boolean; }

    /** A dictionary's entry for the key, or a missing value. */
    const PropertyList& operator[] (const juce::String& key) const;

    /** An array's elements in order (empty for anything else). */
    const std::vector<PropertyList>& getElements() const noexcept   { return elements; }

    /** A number as a 32-bit unsigned integer: integers wrap modulo 2^32,
        reals are truncated (and clamped), true is 1. 0 for anything else. */
    juce::uint32 getUnsignedValue() const noexcept;

    /** Any value as text; a string is itself. */
    juce::String getText() const;

    //==============================================================================
    // Building values; the readers and tests use these.
    static PropertyList makeString (const juce::String& text);
    static PropertyList makeInteger (juce::int64 value);
    static PropertyList makeReal (double value);
    static PropertyList makeBoolean (bool value);
    static PropertyList makeDate (const juce::String& text);
    static PropertyList makeData (const juce::MemoryBlock& bytes);
    static PropertyList makeArray();
    static PropertyList makeDictionary();

    /** For an array: appends. */
    void add (PropertyList element);

    /** For a dictionary: adds an entry; of several with one key, the last counts. */
    void set (const juce::String& key, PropertyList value);

private:
    class XmlReader;
    class BinaryReader;

    Kind kind = Kind::missing;
    juce::String text;
    juce::int64 integer = 0;
    double real = 0.0;
    juce::MemoryBlock bytes;
    juce::StringArray keys;
    std::vector<PropertyList> elements;   // array elements, or the values of `keys`
};
