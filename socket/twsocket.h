// TWSocket: the published socket class, the top of the chain
//     TCustomWSocket → TCustomSocksWSocket → TCustomTlsWSocket → TCustomLineWSocket →
//     TCustomSyncWSocket → TWSocket.
// It adds no behaviour.
#pragma once

#include "socket/sync_wsocket.h"

class TWSocket : public TCustomSyncWSocket {
  public:
    using TCustomSyncWSocket::TCustomSyncWSocket;
};
