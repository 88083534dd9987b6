// The kinds of trace lines the socket layer asks about. The diagnostic logger that keeps a set of
// them is a component of its own; until one is attached, no kind is enabled.
#pragma once

enum TLogOption {
    loDestEvent,
    loDestFile,
    loDestOutDebug,
    loAddStamp,
    loWsockErr,
    loWsockInfo,
    loWsockDump,
    loSslErr,
    loSslInfo,
    loSslDump,
    loProtSpecErr,
    loProtSpecInfo,
    loProtSpecDump
};
