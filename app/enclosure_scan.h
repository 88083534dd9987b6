// Finding a feed document's enclosures and the file name each one would be saved under.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/episode_file_name.h"
#include "app/xml_text.h"

namespace app {

struct FeedEnclosures {
    std::vector<std::string> urls;  // every enclosure's url, in document order
    std::size_t newest = 0;         // the index in urls of the newest episode's enclosure
};

// The url attribute of every <enclosure element (the name followed by white space), in document
// order: wherever it stands among the attributes, in double or single quotes, with optional white
// space around "=", its XML references decoded. An element without a url attribute gives nothing;
// a value whose closing quote is missing gives the empty string. Comments and CDATA sections are
// text, not markup. One pass over the document.
//
// The newest episode is the last enclosure of the item with the latest pubDate (the later item on
// equal dates) when every item with an enclosure has a date that parses; otherwise, and for
// enclosures outside any item, it is the last enclosure in document order.
FeedEnclosures FindEnclosures(std::string_view document);

// The text after the last "/" of url (a query part stays in it); url itself when it holds none.
std::string EnclosureFileName(std::string_view url);


}  // namespace app
