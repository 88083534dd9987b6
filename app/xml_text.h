// Text of an XML document as the feed reader needs it.
#pragma once

#include <string>
#include <string_view>

namespace app {

// Decodes &amp; &lt; &gt; &quot; &apos; and numeric references (&#38; &#x26;, as UTF-8); any other
// "&" text stays as written.
std::string DecodeXmlReferences(std::string_view text);

// Appends text to out, its references decoded as above, as far as out stays within limit bytes;
// a character is never cut. False when not all of text went in.
bool AppendXmlText(std::string& out, std::string_view text, std::size_t limit);

// Appends text to out as it is (the content of a CDATA section) under the same bound.
bool AppendWithin(std::string& out, std::string_view text, std::size_t limit);

}  // namespace app
