#pragma once
// The JSON nodes the web service builds its answers from, turned into text once at the end.
// Kinds: null, number (always a double), string, boolean, array and object. Nodes are shared
// (reference-counted) and freed when the last holder lets go.
//   TPersistentObject: string keys, each at most once (setting a key again replaces its value;
//     the first setting fixes its place); SetNumber, SetString, SetBoolean, SetNull, SetNode.
//   TPersistentArray: Add appends a node.
// AsJSon(indent, escape), with both flags on as the web service uses it:
//   - numbers in the shortest general form with at most 15 significant digits, "." as decimal
//     point, an exponent for very large or small magnitudes ("1E20"); a value that is not finite
//     (no JSON form) is written as null;
//   - strings escaped as "\b \t \n \f \r \" \\ \/" and every other UTF-16 code unit below 0x20
//     or from 0x80 up as \u with four lower-case hexadecimal digits (text is read as UTF-8; a
//     byte that is not valid UTF-8 stands for U+FFFD), so the text is pure ASCII;
//   - CR LF line breaks, one space of indentation per level, each object member on a new line,
//     ": " between key and value, array elements separated by "," on one line, "{}" and "[]".
// Without indent there are no line breaks or indentation and ":" / "," stand alone; without
// escape only quote, backslash and characters below 0x20 are escaped and other text is copied.
// Thread contract: a tree is built and written by one thread; distinct trees are independent.
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace velloran::web {

class TPersistentNode;
using TPersistentNodePtr = std::shared_ptr<TPersistentNode>;

enum class TJsonKind { jkNull, jkNumber, jkString, jkBoolean, jkArray, jkObject };

class TPersistentNode {
 public:
  virtual ~TPersistentNode() = default;
  TJsonKind Kind() const { return kind_; }

  static TPersistentNodePtr Null();
  static TPersistentNodePtr Number(double value);
  static TPersistentNodePtr String(std::string value);
  static TPersistentNodePtr Boolean(bool value);

  std::string AsJSon(bool indent, bool escape) const;

  double NumberValue() const { return number_; }
  const std::string& StringValue() const { return text_; }
  bool BooleanValue() const { return number_ != 0.0; }

 protected:
  explicit TPersistentNode(TJsonKind kind) : kind_(kind) {}
  friend class TJsonWriter;

 private:
  TJsonKind kind_;
  double number_ = 0.0;
  std::string text_;
};

class TPersistentObject : public TPersistentNode {
 public:
  TPersistentObject() : TPersistentNode(TJsonKind::jkObject) {}
  static std::shared_ptr<TPersistentObject> Create() {
    return std::make_shared<TPersistentObject>();
  }

  void SetNumber(const std::string& name, double value) { SetNode(name, Number(value)); }
  void SetString(const std::string& name, std::string value) {
    SetNode(name, String(std::move(value)));
  }
  void SetBoolean(const std::string& name, bool value) { SetNode(name, Boolean(value)); }
  void SetNull(const std::string& name) { SetNode(name, Null()); }
  void SetNode(const std::string& name, TPersistentNodePtr node);

  // nullptr when the key is not set.
  TPersistentNodePtr Get(const std::string& name) const;
  const std::vector<std::pair<std::string, TPersistentNodePtr>>& Members() const {
    return members_;
  }

 private:
  std::vector<std::pair<std::string, TPersistentNodePtr>> members_;
};

class TPersistentArray : public TPersistentNode {
 public:
  TPersistentArray() : TPersistentNode(TJsonKind::jkArray) {}
  static std::shared_ptr<TPersistentArray> Create() { return std::make_shared<TPersistentArray>(); }

  void Add(TPersistentNodePtr node) { items_.push_back(std::move(node)); }
  const std::vector<TPersistentNodePtr>& Items() const { return items_; }

 private:
  std::vector<TPersistentNodePtr> items_;
};

// The number text of AsJSon: shortest general form, at most 15 significant digits.
std::string FormatJsonNumber(double value);
// A JSON string literal (with its quotes) of UTF-8 text, escaped as AsJSon does.
std::string QuoteJsonString(const std::string& text, bool escape);

}  // namespace velloran::web
