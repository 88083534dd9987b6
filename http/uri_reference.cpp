#include "http/uri_reference.h"

#include <optional>

namespace {

// The five parts of a URI reference; an absent part differs from an empty one ("a?" has a query).
struct UriParts {
    std::optional<std::string_view> scheme, authority;
    std::string_view path;
    std::optional<std::string_view> query, fragment;
};

bool IsAlpha(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsSchemeChar(char c) {
    return IsAlpha(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

// A letter, then letters, digits, "+", "-" or ".", up to the first ":"; anything else before it
// makes the text a relative reference.
std::optional<std::string_view> SchemeOf(std::string_view text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !IsAlpha(text[0])) return std::nullopt;
    for (std::size_t i = 1; i < colon; ++i)
        if (!IsSchemeChar(text[i])) return std::nullopt;
    return text.substr(0, colon);
}

UriParts Split(std::string_view text) {
    UriParts parts;
    if ((parts.scheme = SchemeOf(text))) text.remove_prefix(parts.scheme->size() + 1);
    if (const std::size_t hash = text.find('#'); hash != std::string_view::npos) {
        parts.fragment = text.substr(hash + 1);
        text = text.substr(0, hash);
    }
    if (const std::size_t question = text.find('?'); question != std::string_view::npos) {
        parts.query = text.substr(question + 1);
        text = text.substr(0, question);
    }
    if (text.starts_with("//")) {
        const std::size_t slash = text.find('/', 2);
        parts.authority = text.substr(2, slash - 2);
        text = slash == std::string_view::npos ? std::string_view{} : text.substr(slash);
    }
    parts.path = text;
    return parts;
}

// Drops the last segment of output and the "/" before it.
void DropLastSegment(std::string& output) {
    const std::size_t slash = output.rfind('/');
    output.resize(slash == std::string::npos ? 0 : slash);
}

// RFC 3986 5.2.4, step by step; each step takes a prefix off the input.
std::string RemoveDotSegments(std::string_view input) {
    std::string output;
    output.reserve(input.size());
    while (!input.empty()) {
        if (input.starts_with("../")) {
            input.remove_prefix(3);
        } else if (input.starts_with("./") || input.starts_with("/./")) {
            input.remove_prefix(2);
        } else if (input == "/." || input == "/..") {
            if (input == "/..") DropLastSegment(output);
            output += '/';
            break;
        } else if (input.starts_with("/../")) {
            input.remove_prefix(3);
            DropLastSegment(output);
        } else if (input == "." || input == "..") {
            break;
        } else {
            const std::size_t end = input.find('/', 1);
            output.append(input.substr(0, end));
            input = end == std::string_view::npos ? std::string_view{} : input.substr(end);
        }
    }
    return output;
}

// RFC 3986 5.2.3: the reference's path after the base path's last "/".
std::string Merge(const UriParts& base, std::string_view path) {
    if (base.authority && base.path.empty()) return "/" + std::string(path);
    const std::size_t slash = base.path.rfind('/');
    if (slash == std::string_view::npos) return std::string(path);
    return std::string(base.path.substr(0, slash + 1)).append(path);
}

std::string Recompose(std::optional<std::string_view> scheme,
                      std::optional<std::string_view> authority, std::string_view path,
                      std::optional<std::string_view> query,
                      std::optional<std::string_view> fragment) {
    std::string uri;
    if (scheme) uri.append(*scheme).append(":");
    if (authority) uri.append("//").append(*authority);
    uri.append(path);
    if (query) uri.append("?").append(*query);
    if (fragment) uri.append("#").append(*fragment);
    return uri;
}

}  // namespace

std::string ResolveUriReference(std::string_view base, std::string_view reference) {
    const UriParts b = Split(base);
    if (!b.scheme) return std::string(reference);
    const UriParts r = Split(reference);
    if (r.scheme)
        return Recompose(r.scheme, r.authority, RemoveDotSegments(r.path), r.query, r.fragment);
    if (r.authority)
        return Recompose(b.scheme, r.authority, RemoveDotSegments(r.path), r.query, r.fragment);
    if (r.path.empty())
        return Recompose(b.scheme, b.authority, b.path, r.query ? r.query : b.query, r.fragment);
    const std::string path =
        RemoveDotSegments(r.path.starts_with('/') ? std::string(r.path) : Merge(b, r.path));
    return Recompose(b.scheme, b.authority, path, r.query, r.fragment);
}
