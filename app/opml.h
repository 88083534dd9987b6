// OPML subscription lists, the form in which podcast programs hand their feeds to each other:
// the feed addresses read out of one, and the list written as one (OPML 2.0).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace app {

enum class OpmlProblem {
    None,
    TooLarge,             // more than kMaxOpmlBytes
    UnsupportedEncoding,  // neither UTF-8 nor code page 1252 (ISO-8859-1)
    Malformed,            // not well-formed XML, or cut short
    NotOpml,              // well-formed, but its root is no <opml>
};

// Larger than any real subscription list, small enough to hold in memory at once.
constexpr std::size_t kMaxOpmlBytes = 8 * 1024 * 1024;

struct OpmlFeeds {
    std::vector<std::string> feeds;  // each outline's xmlUrl, in document order, UTF-8, once
    OpmlProblem problem = OpmlProblem::None;
    std::size_t line = 0;  // where a Malformed document went wrong, from 1
};

// The feeds of an OPML document, at any depth of nested outlines, whatever their type says; the
// encoding is taken from the XML declaration (UTF-8 without one; text that is not UTF-8 is read
// as code page 1252). An address with a control character inside is passed over. With a problem,
// no feeds are given.
OpmlFeeds ReadOpml(std::string_view document);

// An OPML 2.0 document with one outline per feed, titled title. Addresses that are not UTF-8
// are written as code page 1252 text.
std::string WriteOpml(const std::vector<std::string>& feeds, std::string_view title);

}  // namespace app
