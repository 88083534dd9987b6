// The window class "XSocketWindowClass" shared by the hidden windows of all sockets.
#pragma once

#include "platform/message_loop.h"

class TCustomWSocket;

// A hidden window of the class (registered on first use) that hands its messages to owner;
// 0 when none could be created.
platform::HWND CreateSocketWindow(TCustomWSocket* owner);
// Unregisters the class; run when the last socket is gone.
void UnregisterSocketWindowClass();
