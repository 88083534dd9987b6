// TWSocket: the published socket class, the top of the chain TCustomWSocket →
// TCustomSocksWSocket → TWSocket. It adds no behaviour.
#pragma once

#include "socket/socks_wsocket.h"

class TWSocket : public TCustomSocksWSocket {
  public:
    using TCustomSocksWSocket::TCustomSocksWSocket;
};
