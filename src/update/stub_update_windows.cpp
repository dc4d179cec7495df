#include "net/http_client.h"
#include "update/stub_update.h"

namespace zv {

StepResult UpdateClientStub(const GameLocation& location, std::wstring_view updateHost) {
    HttpClient client;
    return UpdateClientStub(location, updateHost, client, WindowsUpdateSystem());
}

}  // namespace zv
