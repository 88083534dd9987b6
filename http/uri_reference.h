// Resolving URI references (RFC 3986 section 5): relative enclosure addresses in feeds and
// relocation targets.
#pragma once

#include <string>
#include <string_view>

// The target URI of reference, relative to the absolute URI base (RFC 3986 5.2.2, with the dot
// segments of 5.2.4 removed). A reference with a scheme of its own is returned with its dot
// segments removed. The empty reference gives base without its fragment. When base has no scheme
// there is nothing to resolve against, and reference is returned as it is.
std::string ResolveUriReference(std::string_view base, std::string_view reference);
