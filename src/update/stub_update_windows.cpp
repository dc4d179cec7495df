#include "net/http_client.h"
#include "update/stub_update.h"

namespace zv {

StepResult UpdateClientStub(const GameLocation& location, const UpdateSource& source) {
    HttpClient client;
    return UpdateClientStub(location, source, client, WindowsUpdateSystem());
}

}  // namespace zv
