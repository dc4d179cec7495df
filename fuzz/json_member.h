#pragma once

// The manifest fuzzers' reference for a member: what nlohmann-json itself says the document holds,
// against which the launcher's reading is checked.

#include <nlohmann/json.hpp>

#include <string>

#include "update/manifest.h"

namespace zv::fuzz {

// What the document holds under name as a string: Absent, WrongType, or None with the text.
inline MemberFault StringMember(const nlohmann::json& document, const char* name, std::string& text) {
    if (!document.is_object() || !document.contains(name)) {
        return MemberFault::Absent;
    }
    if (!document[name].is_string()) {
        return MemberFault::WrongType;
    }
    text = document[name].get<std::string>();
    return MemberFault::None;
}

}  // namespace zv::fuzz
