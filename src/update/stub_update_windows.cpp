#include "net/http_client.h"
#include "update/stub_update.h"
#include "update/update_public_keys.h"

namespace zv {

StepResult UpdateClientStub(const GameLocation& location, std::wstring_view updateHost) {
    HttpClient client;
    return UpdateClientStub(location, updateHost, client, WindowsUpdateSystem(), kUpdatePublicKeys);
}

}  // namespace zv
