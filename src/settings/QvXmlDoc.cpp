#include "settings/QvXmlDoc.h"

#include "settings/FileWriter.h"

#include <pugixml.hpp>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr const char* NotSingleTextNode = "Element does not contain a single text node";
constexpr unsigned ParseOptions = pugi::parse_full; // keeps comments, PIs, declaration; drops white-space-only text

bool isNameStart(unsigned char c)
{
    return std::isalpha(c) || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(unsigned char c)
{
    return isNameStart(c) || std::isdigit(c) || c == '-' || c == '.';
}

// An element name the writer can put out and the reader will read back.
bool isValidName(const std::string& name)
{
    if (name.empty() || !isNameStart(static_cast<unsigned char>(name[0])))
        return false;
    for (unsigned char c : name)
        if (!isNameChar(c))
            return false;
    return true;
}

// Characters XML 1.0 cannot carry (control characters other than tab, LF and CR).
bool isValidText(const std::string& text)
{
    for (unsigned char c : text)
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r')
            return false;
    return true;
}

// Every step of a path names an element: no empty step apart from one trailing backslash.
bool isForceablePath(std::string path)
{
    if (!path.empty() && path.back() == '\\')
        path.pop_back();
    if (path.empty())
        return false;
    size_t start = 0;
    for (;;) {
        const size_t end = path.find('\\', start);
        if (!isValidName(path.substr(start, end - start)))
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

bool readWholeFile(const std::string& fileName, std::string& content)
{
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[8192];
    int error = 0;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            content.append(buffer, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    ::close(fd);
    errno = error;
    return error == 0;
}

class StringWriter : public pugi::xml_writer {
public:
    explicit StringWriter(std::string& out) : out_(out) {}
    void write(const void* data, size_t size) override { out_.append(static_cast<const char*>(data), size); }

private:
    std::string& out_;
};

} // namespace

std::string LocalName(TXmlElement Node)
{
    const char* name = Node.name();
    const char* colon = std::strchr(name, ':');
    return colon ? std::string(colon + 1) : std::string(name);
}

std::string ElementText(TXmlElement Node)
{
    if (Node.type() != pugi::node_element)
        return Node.value();
    const TXmlElement first = Node.first_child();
    if (!first)
        return {};
    if (first.next_sibling() || (first.type() != pugi::node_pcdata && first.type() != pugi::node_cdata))
        throw EXmlDocumentError(NotSingleTextNode);
    return first.value();
}

void SetElementText(TXmlElement Node, const std::string& Text)
{
    if (Node.type() != pugi::node_element) {
        Node.set_value(Text.c_str());
        return;
    }
    const TXmlElement first = Node.first_child();
    if (first && (first.next_sibling() || (first.type() != pugi::node_pcdata && first.type() != pugi::node_cdata)))
        throw EXmlDocumentError(NotSingleTextNode);
    if (first)
        Node.remove_child(first);
    if (!Node.append_child(pugi::node_pcdata).set_value(Text.c_str()))
        throw EXmlDocumentError("Cannot set the text of the element");
}

void SplitPath(const std::string& Path, std::string& Rest, bool& HasRest, std::string& First)
{
    Rest.clear();
    HasRest = false;
    First.clear();
    if (Path.empty() || Path == "\\")
        return;
    const size_t p = Path.find('\\');
    if (p == std::string::npos) {
        First = Path;
        return;
    }
    First = Path.substr(0, p);
    if (p + 1 < Path.size()) {
        Rest = Path.substr(p + 1);
        HasRest = true;
    }
}

TQvXmlDoc::TQvXmlDoc(const std::string& FileBase, const std::string& RootPath)
    : FXmlDoc(std::make_unique<pugi::xml_document>()), FFileName(FileBase + ".xml"), FRootPath(RootPath)
{
    ResetDocument();
}

TQvXmlDoc::~TQvXmlDoc() = default;

TXmlElement TQvXmlDoc::DocumentElement() const
{
    return FXmlDoc->document_element();
}

bool TQvXmlDoc::HasNodes() const
{
    return !FXmlDoc->empty();
}

void TQvXmlDoc::ResetDocument()
{
    FXmlDoc->reset();
    pugi::xml_node decl = FXmlDoc->append_child(pugi::node_declaration);
    decl.append_attribute("version") = "1.0";
    decl.append_attribute("encoding") = "UTF-8";
    decl.append_attribute("standalone") = "yes";
}

int32_t TQvXmlDoc::LoadFile()
{
    FErrorText.clear();
    struct stat st {};
    if (::stat(FFileName.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR))
        return XmlResult::FileNotFound;
    try {
        std::string content;
        if (!readWholeFile(FFileName, content)) {
            FErrorText = std::strerror(errno);
        } else {
            const pugi::xml_parse_result result =
                FXmlDoc->load_buffer(content.data(), content.size(), ParseOptions, pugi::encoding_auto);
            if (result)
                return XmlResult::Ok;
            FErrorText = content.empty()
                             ? std::string("the file is empty")
                             : std::string(result.description()) + " at byte " + std::to_string(result.offset);
        }
    } catch (const std::exception& e) {
        FErrorText = e.what();
    }
    // Whatever a failed parse left behind is not kept.
    ResetDocument();
    return XmlResult::LoadFailed;
}

int32_t TQvXmlDoc::SaveFile()
{
    FErrorText.clear();
    // A file without a document element could never be loaded again.
    if (!FXmlDoc->document_element()) {
        FErrorText = "the document has no element to write";
        return XmlResult::SaveFailed;
    }
    try {
        std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
        StringWriter writer(out);
        for (TXmlElement node = FXmlDoc->first_child(); node; node = node.next_sibling()) {
            if (node.type() == pugi::node_declaration)
                continue;
            node.print(writer, "", pugi::format_raw, pugi::encoding_utf8);
            out += '\n';
        }
        TFileOps& ops = FFileOps ? *FFileOps : TFileOps::Default();
        if (ReplaceFileContent(FFileName, out, ops))
            return XmlResult::Ok;
        FErrorText = std::strerror(errno);
    } catch (const std::exception& e) {
        FErrorText = e.what();
    }
    return XmlResult::SaveFailed;
}

int32_t TQvXmlDoc::CreateRootElement(const std::string& Name)
{
    if (!isValidName(Name))
        return XmlResult::DocumentError;
    const TXmlElement old = FXmlDoc->document_element();
    TXmlElement created =
        old ? FXmlDoc->insert_child_before(pugi::node_element, old) : FXmlDoc->append_child(pugi::node_element);
    if (!created || !created.set_name(Name.c_str()))
        return XmlResult::DocumentError;
    if (old)
        FXmlDoc->remove_child(old);
    return XmlResult::Ok;
}

TXmlElement TQvXmlDoc::FindChildElement(TXmlElement Parent, const std::string& Name) const
{
    for (TXmlElement child = Parent.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && (Name == child.name() || Name == LocalName(child)))
            return child;
    return {};
}

int32_t TQvXmlDoc::AddChildElement(TXmlElement Parent, const std::string& Name, TXmlElement& Child)
{
    if (!isValidName(Name) || Parent.type() != pugi::node_element)
        return XmlResult::DocumentError;
    const TXmlElement created = Parent.append_child(Name.c_str());
    if (!created)
        return XmlResult::DocumentError;
    Child = created;
    return XmlResult::Ok;
}

int32_t TQvXmlDoc::AddTextElement(TXmlElement Parent, const std::string& Name, const std::string& Text)
{
    if (!isValidText(Text))
        return XmlResult::DocumentError;
    TXmlElement child;
    const int32_t r = AddChildElement(Parent, Name, child);
    if (r != XmlResult::Ok)
        return r;
    try {
        SetElementText(child, Text);
    } catch (const EXmlDocumentError&) {
        Parent.remove_child(child);
        return XmlResult::DocumentError;
    }
    return XmlResult::Ok;
}

TXmlElement TQvXmlDoc::FindPath(TXmlElement Start, const std::string& Path) const
{
    if (!Start)
        return {};
    std::string first, rest;
    bool hasRest = false;
    SplitPath(Path, rest, hasRest, first);
    if (first != Start.name())
        return {};
    // The later steps name children, matched by full or local name as ForceChildPath matches them, so
    // that the element a save writes into is the one a load reads (a prefixed "x:Settings" included).
    TXmlElement node = Start;
    while (hasRest && node) {
        std::string step, remaining;
        bool more = false;
        SplitPath(rest, remaining, more, step);
        node = FindChildElement(node, step);
        rest = remaining;
        hasRest = more;
    }
    return node;
}

TXmlElement TQvXmlDoc::ForcePath(const std::string& Path)
{
    // A path with an empty or unusable step resolves to none before anything is created.
    if (!isForceablePath(Path))
        return {};
    std::string first, rest;
    bool hasRest = false;
    SplitPath(Path, rest, hasRest, first);
    TXmlElement root = FXmlDoc->document_element();
    if (!root) {
        if (CreateRootElement(first) != XmlResult::Ok)
            return {};
        root = FXmlDoc->document_element();
    } else if (first != root.name()) {
        return {};
    }
    return hasRest ? ForceChildPath(root, rest) : root;
}

TXmlElement TQvXmlDoc::ForceChildPath(TXmlElement Parent, const std::string& Path)
{
    if (!Parent || !isForceablePath(Path))
        return {};
    std::string first, rest;
    bool hasRest = false;
    SplitPath(Path, rest, hasRest, first);
    TXmlElement child = FindChildElement(Parent, first);
    if (!child && AddChildElement(Parent, first, child) != XmlResult::Ok)
        return {};
    return hasRest ? ForceChildPath(child, rest) : child;
}
