#pragma once

// What the property-list and catalogue tests share: a small tree that is
// written both as an XML and as a binary property list, component bundles
// made from such trees, and a guard that points the catalogue at temporary
// folders for one test.

#include "hosting/PluginCatalogue.h"
#include "hosting/PropertyList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace juce
{
    // Readable failure messages.
    inline void PrintTo (const String& text, std::ostream* os)        { *os << '"' << text.toStdString() << '"'; }
    inline void PrintTo (const StringArray& list, std::ostream* os)   { *os << '[' << list.joinIntoString (", ").toStdString() << ']'; }
}

namespace catalogue
{
    //==============================================================================
    /** A property-list value as the tests write it. */
    struct Node
    {
        enum class Type { string, integer, boolean, array, dictionary };

        Type type = Type::string;
        std::string text;
        std::int64_t number = 0;
        std::vector<Node> elements;
        std::vector<std::pair<std::string, Node>> entries;
    };

    inline Node str (std::string text)            { Node n; n.text = std::move (text); return n; }
    inline Node num (std::int64_t value)          { Node n; n.type = Node::Type::integer; n.number = value; return n; }
    inline Node boolean (bool value)              { Node n; n.type = Node::Type::boolean; n.number = value ? 1 : 0; return n; }
    inline Node arr (std::vector<Node> elements)  { Node n; n.type = Node::Type::array; n.elements = std::move (elements); return n; }
    inline Node dict (std::vector<std::pair<std::string, Node>> entries)
    {
        Node n;
        n.type = Node::Type::dictionary;
        n.entries = std::move (entries);
        return n;
    }

    inline std::string escapeXml (const std::string& text)
    {
        std::string out;

        for (auto c : text)
        {
            if (c == '&')       out += "&amp;";
            else if (c == '<')  out += "&lt;";
            else if (c == '>')  out += "&gt;";
            else                out += c;
        }

        return out;
    }

    inline std::string toXmlValue (const Node& node)
    {
        switch (node.type)
        {
            case Node::Type::string:   return "<string>" + escapeXml (node.text) + "</string>";
            case Node::Type::integer:  return "<integer>" + std::to_string (node.number) + "</integer>";
            case Node::Type::boolean:  return node.number != 0 ? "<true/>" : "<false/>";
            case Node::Type::array:
            {
                std::string out = "<array>";

                for (const auto& e : node.elements)
                    out += toXmlValue (e);

                return out + "</array>";
            }
            case Node::Type::dictionary:
            {
                std::string out = "<dict>\n";

                for (const auto& [key, value] : node.entries)
                    out += "\t<key>" + escapeXml (key) + "</key>\n\t" + toXmlValue (value) + "\n";

                return out + "</dict>";
            }
        }

        return {};
    }

    inline std::string toXml (const Node& root)
    {
        return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\">\n" + toXmlValue (root) + "\n</plist>\n";
    }

    //==============================================================================
    using Bytes = std::vector<std::uint8_t>;

    inline void appendBigEndian (Bytes& out, std::uint64_t value, int numBytes)
    {
        for (int i = numBytes; --i >= 0;)
            out.push_back ((std::uint8_t) (value >> (8 * i)));
    }

    /** A binary property list from encoded objects: offset table and trailer. */
    inline Bytes assembleBinary (const std::vector<Bytes>& objects, std::uint64_t top = 0, int refSize = 2)
    {
        Bytes out { 'b', 'p', 'l', 'i', 's', 't', '0', '0' };
        std::vector<std::uint64_t> offsets;

        for (const auto& object : objects)
        {
            offsets.push_back (out.size());
            out.insert (out.end(), object.begin(), object.end());
        }

        const auto tableOffset = out.size();

        for (auto offset : offsets)
            appendBigEndian (out, offset, 4);

        out.insert (out.end(), 6, 0);
        out.push_back (4);
        out.push_back ((std::uint8_t) refSize);
        appendBigEndian (out, objects.size(), 8);
        appendBigEndian (out, top, 8);
        appendBigEndian (out, tableOffset, 8);
        return out;
    }

    /** Marker with a length: in the low nibble, or as an integer object after it. */
    inline void appendMarker (Bytes& out, std::uint8_t type, std::uint64_t count)
    {
        if (count < 15)
        {
            out.push_back ((std::uint8_t) (type << 4 | count));
            return;
        }

        out.push_back ((std::uint8_t) (type << 4 | 0x0f));
        out.push_back (0x11);
        appendBigEndian (out, count, 2);
    }

    struct BinaryWriter
    {
        std::vector<Bytes> objects;
        int refSize = 2;

        std::uint64_t add (const Node& node)
        {
            const auto index = objects.size();
            objects.emplace_back();
            Bytes encoded;

            switch (node.type)
            {
                case Node::Type::string:
                {
                    const bool ascii = std::all_of (node.text.begin(), node.text.end(), [] (char c) { return (unsigned char) c < 0x80; });

                    if (ascii)
                    {
                        appendMarker (encoded, 0x5, node.text.size());
                        encoded.insert (encoded.end(), node.text.begin(), node.text.end());
                    }
                    else
                    {
                        const auto text = juce::String::fromUTF8 (node.text.c_str());
                        const auto wide = text.toUTF16();   // points into `text`
                        std::vector<std::uint16_t> units;

                        for (auto p = wide.getAddress(); *p != 0; ++p)
                            units.push_back ((std::uint16_t) *p);

                        appendMarker (encoded, 0x6, units.size());

                        for (auto u : units)
                            appendBigEndian (encoded, u, 2);
                    }
                    break;
                }
                case Node::Type::integer:
                    // The smallest width that holds it, as writers do.
                    if (node.number >= 0 && node.number < 0x100)              { encoded.push_back (0x10); appendBigEndian (encoded, (std::uint64_t) node.number, 1); }
                    else if (node.number >= 0 && node.number < 0x10000)       { encoded.push_back (0x11); appendBigEndian (encoded, (std::uint64_t) node.number, 2); }
                    else if (node.number >= 0 && node.number < 0x100000000LL) { encoded.push_back (0x12); appendBigEndian (encoded, (std::uint64_t) node.number, 4); }
                    else                                                        { encoded.push_back (0x13); appendBigEndian (encoded, (std::uint64_t) node.number, 8); }
                    break;

                case Node::Type::boolean:
                    encoded.push_back (node.number != 0 ? 0x09 : 0x08);
                    break;

                case Node::Type::array:
                {
                    std::vector<std::uint64_t> refs;

                    for (const auto& e : node.elements)
                        refs.push_back (add (e));

                    appendMarker (encoded, 0xa, refs.size());

                    for (auto r : refs)
                        appendBigEndian (encoded, r, refSize);
                    break;
                }
                case Node::Type::dictionary:
                {
                    std::vector<std::uint64_t> keyRefs, valueRefs;

                    for (const auto& [key, value] : node.entries)
                    {
                        keyRefs.push_back (add (str (key)));
                        valueRefs.push_back (add (value));
                    }

                    appendMarker (encoded, 0xd, keyRefs.size());

                    for (auto r : keyRefs)
                        appendBigEndian (encoded, r, refSize);

                    for (auto r : valueRefs)
                        appendBigEndian (encoded, r, refSize);
                    break;
                }
            }

            objects[index] = std::move (encoded);
            return index;
        }
    };

    inline Bytes toBinary (const Node& root)
    {
        BinaryWriter writer;
        writer.add (root);
        return assembleBinary (writer.objects, 0, writer.refSize);
    }

    inline PropertyList parse (const std::string& text)  { return PropertyList::parse (text.data(), text.size()); }
    inline PropertyList parse (const Bytes& bytes)       { return PropertyList::parse (bytes.data(), bytes.size()); }

    //==============================================================================
    /** A component entry of an Info.plist's "AudioComponents" array. */
    inline Node component (const std::string& type, const std::string& subtype, const std::string& manufacturer,
                           const std::string& name)
    {
        return dict ({ { "type", str (type) }, { "subtype", str (subtype) },
                       { "manufacturer", str (manufacturer) }, { "name", str (name) } });
    }

    inline Node infoPlist (std::vector<Node> components, const std::string& identifier = "com.example.plugin")
    {
        return dict ({ { "CFBundleIdentifier", str (identifier) },
                       { "CFBundleName", str ("Example") },
                       { "AudioComponents", arr (std::move (components)) } });
    }

    /** Writes folder/name with Contents/Info.plist, in XML or binary form. */
    inline juce::File writeBundle (const juce::File& folder, const juce::String& name, const Node& plist, bool binary = false)
    {
        const auto bundle = folder.getChildFile (name);
        const auto file = bundle.getChildFile ("Contents/Info.plist");
        EXPECT_TRUE (file.getParentDirectory().createDirectory());

        if (binary)
        {
            const auto bytes = toBinary (plist);
            EXPECT_TRUE (file.replaceWithData (bytes.data(), bytes.size()));
        }
        else
        {
            EXPECT_TRUE (file.replaceWithText (toXml (plist)));
        }

        return bundle;
    }

    inline juce::StringArray namesOf (const std::vector<juce::PluginDescription>& list)
    {
        juce::StringArray names;

        for (const auto& d : list)
            names.add (d.name);

        return names;
    }

    /** Names in alphabetical order, for listings whose order is not defined. */
    inline juce::StringArray sortedNames (const std::vector<juce::PluginDescription>& list)
    {
        auto names = namesOf (list);
        names.sort (true);
        return names;
    }

    inline const juce::PluginDescription* findByName (const std::vector<juce::PluginDescription>& list, const juce::String& name)
    {
        for (const auto& d : list)
            if (d.name == name)
                return &d;

        return nullptr;
    }

    //==============================================================================
    /** A temporary folder, removed with everything in it. */
    struct TemporaryFolder
    {
        TemporaryFolder()
        {
            EXPECT_TRUE (folder.createDirectory());
        }

        ~TemporaryFolder()
        {
            folder.deleteRecursively (false);
        }

        juce::File operator/ (const juce::String& path) const  { return folder.getChildFile (path); }

        // Random, so that tests running at once in other processes never meet.
        juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                .getChildFile ("vellix-catalogue-" + juce::String::toHexString (juce::Random().nextInt64()));
    };

    /** Points the catalogue at folders of the test (all empty to begin with,
        the cache in the test's own folder) and restores the real ones after. */
    struct ScopedLocations
    {
        explicit ScopedLocations (const TemporaryFolder& temp)
        {
            auto& where = PluginCatalogue::locations();
            saved = where;
            where.componentFolders = { temp / "components-system", temp / "components-user" };
            where.vst3Folders = { temp / "vst3" };
            where.lv2Folders = { temp / "lv2" };
            where.cacheFile = temp / "cache/PluginCatalogue.xml";
            where.scanHelper = temp / "no-helper";
        }

        ~ScopedLocations()
        {
            PluginCatalogue::locations() = saved;
        }

        PluginCatalogue::Locations saved;
    };
}
