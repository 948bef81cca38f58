#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace pugi {
class xml_document;
class xml_node;
} // namespace pugi

class TFileOps;

// Result codes of the settings document.
namespace XmlResult {
enum : int32_t {
    Ok = 0,
    FileNotFound = -1572,  // LoadFile: no such file
    DocumentError = -1576, // creating or adding an element, or setting its text, failed
    LoadFailed = -1580,    // LoadFile: the file exists but cannot be read or parsed
    SaveFailed = -1581     // SaveFile: the file could not be written; the old file is unchanged
};
}

// The XML layer's document error, raised by the text accessors below.
class EXmlDocumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Elements are pugixml nodes (include <pugixml.hpp> to use them); a null node stands for "none".
using TXmlElement = pugi::xml_node;

// Name of a node without its namespace prefix.
std::string LocalName(TXmlElement Node);
// Text of a node. An element must hold nothing, one text node or one CDATA section; anything else raises
// EXmlDocumentError("Element does not contain a single text node"). Other nodes give their value.
std::string ElementText(TXmlElement Node);
// Makes Text the only content of an element (one text node); raises like ElementText.
void SetElementText(TXmlElement Node, const std::string& Text);

// Splits a backslash-separated path at its first backslash: "A\B\C" gives First "A", Rest "B\C".
void SplitPath(const std::string& Path, std::string& Rest, bool& HasRest, std::string& First);

// An XML document bound to the file FileBase + ".xml", with elements addressed by backslash-separated
// paths ("Sensor\Settings"). Operations that can fail on input or file problems return XmlResult codes.
// Nothing reaches the disk except through SaveFile, which replaces the file atomically.
class TQvXmlDoc {
public:
    TQvXmlDoc(const std::string& FileBase, const std::string& RootPath);
    ~TQvXmlDoc();
    TQvXmlDoc(const TQvXmlDoc&) = delete;
    TQvXmlDoc& operator=(const TQvXmlDoc&) = delete;

    int32_t LoadFile();
    int32_t SaveFile();

    int32_t CreateRootElement(const std::string& Name);
    TXmlElement FindChildElement(TXmlElement Parent, const std::string& Name) const;
    int32_t AddChildElement(TXmlElement Parent, const std::string& Name, TXmlElement& Child);
    int32_t AddTextElement(TXmlElement Parent, const std::string& Name, const std::string& Text);

    // The first step of Path names Start itself; look-up only.
    TXmlElement FindPath(TXmlElement Start, const std::string& Path) const;
    // The first step names the document element (created when the document has none).
    TXmlElement ForcePath(const std::string& Path);
    // The first step names a child of Parent; missing elements are appended.
    TXmlElement ForceChildPath(TXmlElement Parent, const std::string& Path);

    const std::string& FileName() const { return FFileName; }
    // Why the last LoadFile or SaveFile (or a derived class's load or save) failed; empty after a success.
    const std::string& ErrorText() const { return FErrorText; }
    const std::string& RootPath() const { return FRootPath; }
    pugi::xml_document& Document() { return *FXmlDoc; }
    TXmlElement DocumentElement() const;
    bool HasNodes() const;

    // File calls used by SaveFile (not owned; null restores the system's).
    void SetFileOps(TFileOps* ops) { FFileOps = ops; }

protected:
    std::unique_ptr<pugi::xml_document> FXmlDoc;
    std::string FFileName;
    std::string FRootPath;
    std::string FErrorText;

private:
    void ResetDocument();
    TFileOps* FFileOps = nullptr;
};
