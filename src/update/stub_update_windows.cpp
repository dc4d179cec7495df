#include "net/http_client.h"
#include "update/stub_update.h"

namespace zv {

StepResult UpdateClientStub(const GameLocation& location, const UpdateSource& source, DownloadProgress& downloads) {
    HttpClient client;
    client.ReportDownloadsTo(&downloads);
    return UpdateClientStub(location, source, client, WindowsUpdateSystem());
}

}  // namespace zv
