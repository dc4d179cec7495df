#pragma once

namespace zv {

// "EULA" under HKEY_CURRENT_USER\SOFTWARE\Zarnovelle. Accepted exactly when the value can be read
// into four bytes and they hold the number 1; its type is not looked at.
bool ReadAgreementAccepted();

// Writes "EULA" = REG_DWORD 1, creating the key when needed. A failure is silent: the user is
// simply asked again next time.
void RecordAgreementAccepted();

}  // namespace zv
