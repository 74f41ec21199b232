#pragma once
// TTovikPanel::Send, for the files that make up the panel.
#include "panel/TovikPanel.h"
#include "ports/ProtoPortList.h"

namespace tovik {

template <class TBuilder, class... TArgs>
bool TTovikPanel::Send(TBuilder Builder, TResultHandler OnResult, TArgs&&... Args) {
    const bool tracked = static_cast<bool>(OnResult);
    TProtoPort* port = DevicePort();
    // Nothing ever goes to an unknown kind or an address outside 1..250.
    const bool sent = port && AddressProblem().empty() &&
                      Builder(*port, Dev->BusAddress, Owner, Dev->GetDeviceKind(), ResultList,
                              std::move(OnResult), std::forward<TArgs>(Args)...);
    if (!sent && tracked) Untrack();
    return sent;
}

}  // namespace tovik
