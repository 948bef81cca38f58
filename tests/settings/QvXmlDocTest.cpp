#include "settings/QvXmlDoc.h"
#include "support/FailingFileOps.h"
#include "support/TempDir.h"

#include <pugixml.hpp>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

const std::string Declaration = R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)";
const std::string Compact = Declaration + "\n<Sensor><Settings><ComPort>COM3</ComPort></Settings></Sensor>\n";

int elementCount(const pugi::xml_node& node)
{
    int n = 0;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        n += c.type() == pugi::node_element ? 1 + elementCount(c) : 0;
    return n;
}

size_t filesIn(const std::string& folder)
{
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

} // namespace

TEST(SplitPath, SplitsAtFirstBackslash)
{
    struct Case {
        std::string path, first, rest;
        bool hasRest;
    };
    for (const Case& c : {Case{"Sensor\\Settings", "Sensor", "Settings", true}, Case{"Settings", "Settings", "", false},
                          Case{"Sensor\\", "Sensor", "", false}, Case{"\\Settings", "", "Settings", true},
                          Case{"A\\B\\C", "A", "B\\C", true}, Case{"", "", "", false}, Case{"\\", "", "", false}}) {
        std::string first = "x", rest = "x";
        bool hasRest = !c.hasRest;
        SplitPath(c.path, rest, hasRest, first);
        EXPECT_EQ(first, c.first) << c.path;
        EXPECT_EQ(rest, c.rest) << c.path;
        EXPECT_EQ(hasRest, c.hasRest) << c.path;
    }
}

TEST(QvXmlDocPaths, ForcePathCreatesOnceThenFinds)
{
    TQvXmlDoc doc("/nonexistent/x", "Sensor\\Settings");
    const TXmlElement settings = doc.ForcePath("Sensor\\Settings");
    ASSERT_TRUE(settings);
    EXPECT_STREQ(settings.name(), "Settings");
    EXPECT_STREQ(doc.DocumentElement().name(), "Sensor");
    EXPECT_EQ(doc.ForcePath("Sensor\\Settings"), settings);
    EXPECT_EQ(doc.ForcePath("Sensor\\Settings\\"), settings);
    EXPECT_EQ(elementCount(doc.Document()), 2);

    EXPECT_EQ(doc.FindPath(doc.DocumentElement(), "Sensor"), doc.DocumentElement());
    EXPECT_EQ(doc.FindPath(doc.DocumentElement(), "Sensor\\Settings\\"), settings);
    EXPECT_FALSE(doc.FindPath(doc.DocumentElement(), "Settings"));
    EXPECT_FALSE(doc.FindPath(TXmlElement(), "Sensor"));
}

TEST(QvXmlDocPaths, EmptyStepsResolveToNoneAndCreateNothing)
{
    TQvXmlDoc doc("/nonexistent/x", "");
    for (const char* path : {"\\Sensor\\Settings", "Sensor\\\\Settings", "Sensor\\Settings\\\\", "", "\\"})
        EXPECT_FALSE(doc.ForcePath(path)) << path;
    EXPECT_FALSE(doc.DocumentElement());

    const TXmlElement settings = doc.ForcePath("Sensor\\Settings");
    for (const char* path : {"\\Sensor\\Settings", "Sensor\\\\Settings"})
        EXPECT_FALSE(doc.FindPath(doc.DocumentElement(), path)) << path;
    EXPECT_FALSE(doc.ForceChildPath(settings, "A\\\\B"));
    EXPECT_FALSE(doc.ForceChildPath(settings, "\\A"));
    EXPECT_FALSE(doc.ForceChildPath(settings, "A\\bad name"));
    EXPECT_FALSE(doc.ForceChildPath(TXmlElement(), "A"));
    EXPECT_EQ(elementCount(doc.Document()), 2);
}

TEST(QvXmlDocPaths, OtherCaseDocumentElementIsNeverReplaced)
{
    TQvXmlDoc doc("/nonexistent/x", "");
    ASSERT_EQ(doc.CreateRootElement("sensor"), XmlResult::Ok);
    EXPECT_FALSE(doc.ForcePath("Sensor\\Settings"));
    EXPECT_STREQ(doc.DocumentElement().name(), "sensor");
    EXPECT_EQ(elementCount(doc.Document()), 1);
}

TEST(QvXmlDocPaths, ForceChildPathTakesFirstOfSharedName)
{
    TQvXmlDoc doc("/nonexistent/x", "");
    const TXmlElement root = doc.ForcePath("Root");
    TXmlElement first, second;
    ASSERT_EQ(doc.AddChildElement(root, "Item", first), XmlResult::Ok);
    ASSERT_EQ(doc.AddChildElement(root, "Item", second), XmlResult::Ok);
    EXPECT_EQ(doc.ForceChildPath(root, "Item"), first);
    EXPECT_EQ(doc.ForceChildPath(root, "Item\\Leaf").parent(), first);
}

TEST(QvXmlDocElements, NamesAndTextsTheFileCannotCarryAreRefused)
{
    TQvXmlDoc doc("/nonexistent/x", "");
    const TXmlElement root = doc.ForcePath("Root");
    TXmlElement child;
    EXPECT_EQ(doc.AddChildElement(root, "bad name", child), XmlResult::DocumentError);
    EXPECT_EQ(doc.AddChildElement(root, "1st", child), XmlResult::DocumentError);
    EXPECT_EQ(doc.AddTextElement(root, "Ok", std::string("a\x01", 2)), XmlResult::DocumentError);
    EXPECT_FALSE(root.first_child());
    EXPECT_EQ(doc.AddTextElement(root, "Empty", ""), XmlResult::Ok);
    EXPECT_EQ(ElementText(root.child("Empty")), "");
}

TEST(QvXmlDocElements, TextNeedsASingleTextNode)
{
    pugi::xml_document xml;
    ASSERT_TRUE(
        xml.load_string("<R><A>t</A><B><![CDATA[<c>]]></B><C/><D><x/></D><E>t<!--c--></E></R>", pugi::parse_full));
    const pugi::xml_node r = xml.document_element();
    EXPECT_EQ(ElementText(r.child("A")), "t");
    EXPECT_EQ(ElementText(r.child("B")), "<c>");
    EXPECT_EQ(ElementText(r.child("C")), "");
    for (const char* name : {"D", "E"}) {
        try {
            ElementText(r.child(name));
            ADD_FAILURE() << name;
        } catch (const EXmlDocumentError& e) {
            EXPECT_STREQ(e.what(), "Element does not contain a single text node");
        }
        EXPECT_THROW(SetElementText(r.child(name), "x"), EXmlDocumentError);
    }
}

TEST(QvXmlDocFile, LoadResults)
{
    TempDir dir;
    TQvXmlDoc doc(dir.file("s"), "");
    EXPECT_EQ(doc.LoadFile(), XmlResult::FileNotFound);
    for (const std::string& content :
         {std::string("   "), Declaration, std::string("<Sensor><x></Sensor>"), std::string()}) {
        dir.write("s.xml", content);
        EXPECT_EQ(doc.LoadFile(), XmlResult::LoadFailed) << "[" << content << "]";
        EXPECT_NE(doc.ErrorText(), "") << "[" << content << "]"; // why, for the operator
    }
    EXPECT_EQ(doc.ErrorText(), "the file is empty");
    std::filesystem::remove(dir.file("s.xml"));
    std::filesystem::create_directory(dir.file("s.xml"));
    EXPECT_EQ(doc.LoadFile(), XmlResult::LoadFailed);
    EXPECT_EQ(doc.ErrorText(), std::strerror(EISDIR));
    TQvXmlDoc inMissingFolder(dir.file("nofolder/s"), "");
    EXPECT_EQ(inMissingFolder.LoadFile(), XmlResult::FileNotFound);
}

TEST(QvXmlDocFile, IndentedFileWithByteOrderMarkReadsLikeCompact)
{
    TempDir dir;
    dir.write("compact.xml", Compact);
    dir.write("indented.xml",
              "\xEF\xBB\xBF" + Declaration
                  + "\r\n<Sensor>\r\n  <Settings>\r\n\t<ComPort>COM3</ComPort>\r\n  </Settings>\n</Sensor>\n");
    TQvXmlDoc compact(dir.file("compact"), ""), indented(dir.file("indented"), "");
    ASSERT_EQ(compact.LoadFile(), XmlResult::Ok);
    ASSERT_EQ(indented.LoadFile(), XmlResult::Ok);
    const TXmlElement settings = indented.FindPath(indented.DocumentElement(), "Sensor\\Settings");
    ASSERT_TRUE(settings);
    EXPECT_EQ(std::distance(settings.children().begin(), settings.children().end()), 1);
    EXPECT_EQ(ElementText(settings.first_child()), "COM3");
    ASSERT_EQ(indented.SaveFile(), XmlResult::Ok);
    EXPECT_EQ(dir.read("indented.xml"), Compact);
}

TEST(QvXmlDocFile, SaveWritesDeclarationAndKeepsOtherContent)
{
    TempDir dir;
    dir.write("s.xml",
              "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><!--note--><Sensor a=\"1\"><Other>\xE9</Other></Sensor>");
    TQvXmlDoc doc(dir.file("s"), "");
    ASSERT_EQ(doc.LoadFile(), XmlResult::Ok);
    ASSERT_EQ(doc.SaveFile(), XmlResult::Ok);
    EXPECT_EQ(dir.read("s.xml"), Declaration + "\n<!--note-->\n<Sensor a=\"1\"><Other>\xC3\xA9</Other></Sensor>\n");
    EXPECT_EQ(filesIn(dir.path()), 1u);
}

TEST(QvXmlDocFile, FailedSaveLeavesOldFileIntact)
{
    TempDir dir;
    dir.write("s.xml", Compact);
    TQvXmlDoc doc(dir.file("s"), "");
    ASSERT_EQ(doc.LoadFile(), XmlResult::Ok);
    SetElementText(doc.FindPath(doc.DocumentElement(), "Sensor\\Settings\\ComPort"), "COM9");

    FailingFileOps diskFull;
    doc.SetFileOps(&diskFull);
    EXPECT_EQ(doc.SaveFile(), XmlResult::SaveFailed);
    EXPECT_GE(diskFull.writes, 2);
    FailingFileOps renameFails;
    renameFails.failWrite = false;
    renameFails.failRename = true;
    doc.SetFileOps(&renameFails);
    EXPECT_EQ(doc.SaveFile(), XmlResult::SaveFailed);
    EXPECT_EQ(doc.ErrorText(), std::strerror(EIO));
    EXPECT_EQ(dir.read("s.xml"), Compact);
    EXPECT_EQ(filesIn(dir.path()), 1u); // no temporary left behind

    doc.SetFileOps(nullptr);
    ASSERT_EQ(doc.SaveFile(), XmlResult::Ok);
    EXPECT_EQ(doc.ErrorText(), "");
    EXPECT_NE(dir.read("s.xml").find("COM9"), std::string::npos);
}

TEST(QvXmlDocFile, SaveIntoUnusableFolderFails)
{
    TempDir dir;
    dir.write("plain", "x");
    TQvXmlDoc empty(dir.file("empty"), "");
    EXPECT_EQ(empty.SaveFile(), XmlResult::SaveFailed);
    EXPECT_FALSE(std::filesystem::exists(empty.FileName()));
    TQvXmlDoc doc(dir.file("plain/s"), "");
    doc.ForcePath("Sensor");
    EXPECT_EQ(doc.SaveFile(), XmlResult::SaveFailed);
    std::filesystem::create_directory(dir.file("s.xml"));
    TQvXmlDoc overFolder(dir.file("s"), "");
    overFolder.ForcePath("Sensor");
    EXPECT_EQ(overFolder.SaveFile(), XmlResult::SaveFailed);
    EXPECT_TRUE(std::filesystem::is_directory(dir.file("s.xml")));
    EXPECT_EQ(dir.read("plain"), "x");
}
