#pragma once
// The right granted to one web request. The values are the item indexes of the anonymous-access
// choice ("none", "admin", "read-only"), so they are stored and shown by number.
// Thread contract: plain value type.
namespace velloran::web {

enum class TAccessLevel { alNone = 0, alAdmin = 1, alReadOnly = 2 };

}  // namespace velloran::web
