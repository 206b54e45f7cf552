#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace orvik {

// What a failing document call raises. Only the configuration layer sees it: the loader
// catches it per phase and the setup writers turn it into a false result.
struct XmlError {
  std::uint32_t status;
};

// Status codes of the raised errors.
inline constexpr std::uint32_t kXmlNoObject = 0x80004003;      // no root, no item, null element
inline constexpr std::uint32_t kXmlOutOfMemory = 0x8007000E;   // a name or value did not fit
inline constexpr std::uint32_t kXmlTypeMismatch = 0x80020005;  // absent or unconvertible value
inline constexpr std::uint32_t kXmlOverflow = 0x8002000A;      // a number beyond 32 bits

class XmlNodeList;

// An element of the document; a default-constructed one stands for an absent element and
// raises on every call. It points into its document and is valid until the next load.
class XmlElement {
 public:
  XmlElement() = default;
  explicit XmlElement(pugi::xml_node node) : node_(node) {}

  // Every descendant element of that name, in document order (not the element itself).
  XmlNodeList getElementsByTagName(const char* name) const;
  // The attribute's text; an absent attribute raises, so every attribute read is required.
  std::string getAttribute(const char* name) const;
  // The attribute as a 32-bit integer: optional white space around an optional sign and
  // decimal digits. Anything else, or an absent attribute, raises.
  std::int32_t getIntegerAttribute(const char* name) const;
  // Sets the attribute, adding it after the others when the element has none of that name.
  void setAttribute(const char* name, const std::string& value);

 private:
  pugi::xml_node checked() const;

  pugi::xml_node node_;
};

// The result of getElementsByTagName: elements only, so no entry needs a type check.
class XmlNodeList {
 public:
  XmlNodeList() = default;
  explicit XmlNodeList(std::vector<pugi::xml_node> nodes) : nodes_(std::move(nodes)) {}

  std::size_t length() const { return nodes_.size(); }
  // Item 0 is the first; an index past the end raises.
  XmlElement item(std::size_t index) const;

 private:
  std::vector<pugi::xml_node> nodes_;
};

// The one XML document of the run: it holds the file parsed last (the configuration, then
// the setup file) and writes the setup file back.
//
// Texts are UTF-8 and go through unchanged: bytes that are not UTF-8 (a file written in an
// 8-bit code page) are kept as they are in values and written back as they came, so a load
// and save never alter a value. An encoding named in the XML declaration is ignored.
//
// Parsing is synchronous and never validates or reaches outside the text. A DOCTYPE is kept
// as written for the save but nothing in it is interpreted: no entity is declared, none is
// fetched or expanded, and a reference other than the five built-in ones and character
// references stays in the value as its literal text.
class XmlDocument {
 public:
  // Parses the text, up to its first NUL byte, replacing what the document held. A text
  // that is not one well-formed XML document leaves the document empty and gives false.
  bool loadXML(std::string_view text);
  // The root element; raises when the document has none.
  XmlElement documentElement() const;
  // Every element of that name in the whole document, the root included, in document order.
  XmlNodeList getElementsByTagName(const char* name) const;
  // The whole document as text: what was read, in its order, with comments, processing
  // instructions and the white space between elements.
  std::string xml() const;

 private:
  pugi::xml_document document_;
};

// Creates the run's document into the holder. On failure one line is in the error text
// and the holder stays empty.
bool CreateXmlDocument(std::unique_ptr<XmlDocument>& holder);

}  // namespace orvik
