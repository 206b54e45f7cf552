#include "config/xml_document.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <new>

#include "errors/error_text.h"

namespace orvik {
namespace {

// No pugi::parse_doctype interpretation happens in any mode (the parser only skips over or
// keeps the declaration's text), so keeping it costs nothing and makes the save lossless.
// White space between elements is kept for the same reason; the queries only look at
// elements, so it is never in the way.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_pi | pugi::parse_comments |
                                   pugi::parse_declaration | pugi::parse_doctype |
                                   pugi::parse_ws_pcdata;

bool isElementNamed(const pugi::xml_node& node, const char* name) {
  return node.type() == pugi::node_element && std::strcmp(node.name(), name) == 0;
}

// Walks the subtree below top in document order without recursion, so a deeply nested file
// cannot exhaust the stack.
std::vector<pugi::xml_node> elementsBelow(const pugi::xml_node& top, const char* name) {
  std::vector<pugi::xml_node> found;
  pugi::xml_node node = top.first_child();
  while (node) {
    if (isElementNamed(node, name)) {
      found.push_back(node);
    }
    if (node.first_child()) {
      node = node.first_child();
      continue;
    }
    while (node != top && !node.next_sibling()) {
      node = node.parent();
    }
    if (node == top) {
      break;
    }
    node = node.next_sibling();
  }
  return found;
}

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::int32_t toInteger(std::string_view text) {
  while (!text.empty() && isSpace(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && isSpace(text.back())) {
    text.remove_suffix(1);
  }
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty() || text.front() < '0' || text.front() > '9') {
    throw XmlError{kXmlTypeMismatch};
  }
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
  if (end != text.data() + text.size()) {
    throw XmlError{kXmlTypeMismatch};
  }
  const std::uint64_t limit = negative ? std::uint64_t{1} << 31 : (std::uint64_t{1} << 31) - 1;
  if (error == std::errc::result_out_of_range || magnitude > limit) {
    throw XmlError{kXmlOverflow};
  }
  const std::int64_t value = static_cast<std::int64_t>(magnitude);
  return static_cast<std::int32_t>(negative ? -value : value);
}

struct StringWriter : pugi::xml_writer {
  std::string text;
  void write(const void* data, std::size_t size) override {
    text.append(static_cast<const char*>(data), size);
  }
};

}  // namespace

pugi::xml_node XmlElement::checked() const {
  if (!node_ || node_.type() != pugi::node_element) {
    throw XmlError{kXmlNoObject};
  }
  return node_;
}

XmlNodeList XmlElement::getElementsByTagName(const char* name) const {
  return XmlNodeList(elementsBelow(checked(), name));
}

std::string XmlElement::getAttribute(const char* name) const {
  const pugi::xml_attribute attribute = checked().attribute(name);
  if (!attribute) {
    throw XmlError{kXmlTypeMismatch};
  }
  return attribute.value();
}

std::int32_t XmlElement::getIntegerAttribute(const char* name) const {
  return toInteger(getAttribute(name));
}

void XmlElement::setAttribute(const char* name, const std::string& value) {
  pugi::xml_node node = checked();
  pugi::xml_attribute attribute = node.attribute(name);
  if (!attribute) {
    attribute = node.append_attribute(name);
  }
  if (!attribute || !attribute.set_value(value.c_str())) {
    throw XmlError{kXmlOutOfMemory};
  }
}

XmlElement XmlNodeList::item(std::size_t index) const {
  if (index >= nodes_.size()) {
    throw XmlError{kXmlNoObject};
  }
  return XmlElement(nodes_[index]);
}

bool XmlDocument::loadXML(std::string_view text) {
  document_.reset();
  text = text.substr(0, text.find('\0'));
  const pugi::xml_parse_result result =
      document_.load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
  // The parser takes a second top-level element as well; a document has exactly one.
  int topElements = 0;
  for (const pugi::xml_node& node : document_.children()) {
    topElements += node.type() == pugi::node_element ? 1 : 0;
  }
  if (!result || topElements != 1) {
    // The parser keeps what it had read before the fault; an invalid text leaves nothing.
    document_.reset();
    return false;
  }
  return true;
}

XmlElement XmlDocument::documentElement() const {
  const pugi::xml_node root = document_.document_element();
  if (!root) {
    throw XmlError{kXmlNoObject};
  }
  return XmlElement(root);
}

XmlNodeList XmlDocument::getElementsByTagName(const char* name) const {
  return XmlNodeList(elementsBelow(document_, name));
}

std::string XmlDocument::xml() const {
  StringWriter writer;
  // Raw and without an added declaration, so the text is what was read, value changes
  // aside.
  document_.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return std::move(writer.text);
}

bool CreateXmlDocument(std::unique_ptr<XmlDocument>& holder) {
  try {
    holder = std::make_unique<XmlDocument>();
    return true;
  } catch (const std::bad_alloc&) {
    holder.reset();
    appendError(ErrorCategory::RESOURCE, "Error:failed to create com instance.");
    return false;
  }
}

}  // namespace orvik
