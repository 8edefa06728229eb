#pragma once
// The state behind one masked web-server password field: the text the field holds and the hash
// that is stored for it. Loaded from the configuration, the field holds the stored hash text and
// the hash is that text unchanged. Every change of the text makes the hash HashWebPassword of
// the whole new text, so typing into a field that still holds a stored hash hashes the old hash
// text with the typed characters (a new password belongs in a cleared field), and clearing the
// field stores the hash of the empty password. Only hashes are ever stored.
// Thread contract: a plain value; used on the main thread.
#include <string>

namespace velloran::app {

class PasswordField {
 public:
  // Takes over a stored hash (empty when the key is absent) as text and hash.
  void Load(const std::string& storedHash);
  // The field's text changed to text (typing, pasting, clearing).
  void SetText(const std::string& text);
  // Typing at the end of the field.
  void Type(const std::string& characters) { SetText(text_ + characters); }
  void Clear() { SetText(std::string()); }

  const std::string& Text() const { return text_; }
  const std::string& Hash() const { return hash_; }

 private:
  std::string text_;
  std::string hash_;
};

}  // namespace velloran::app
