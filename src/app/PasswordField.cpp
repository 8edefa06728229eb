#include "app/PasswordField.h"

#include "app/HashWebPassword.h"

namespace velloran::app {

void PasswordField::Load(const std::string& storedHash) {
  text_ = storedHash;
  hash_ = storedHash;
}

void PasswordField::SetText(const std::string& text) {
  text_ = text;
  hash_ = HashWebPassword(text);
}

}  // namespace velloran::app
