#pragma once

#include <string_view>

namespace zv {

// The end-user agreement shown in the consent window, exactly as the edit control receives it:
// one-line paragraphs separated by an empty line (CR LF CR LF), which the control wraps. Plain
// ASCII, so it reads the same whatever the user's code page.
inline constexpr std::wstring_view AgreementText =
    L"********** ZARNOVELLE END-USER LICENSE AGREEMENT **********"
    L"\r\n\r\n"
    L"This End-User License Agreement (the \"Agreement\") is a contract between you and Zarnovelle "
    L"Software (the \"Licensor\") about the Zarnovelle anti-cheat client, its launcher, the client stub "
    L"that games load, and every update to them (together, the \"Software\")."
    L"\r\n\r\n"
    L"By pressing \"I Accept\" you confirm that you have read this Agreement, that you understand it, "
    L"and that you agree to be bound by it. If you do not agree, press \"Cancel\": the Software will not"
    L" be installed or updated and the game will not be started through it."
    L"\r\n\r\n"
    L"The Software exists to keep online games fair. It runs while a protected game runs and checks "
    L"that the game and its client stub are the versions the game's publisher released."
    L"\r\n\r\n"
    L"- License. The Licensor grants you a personal, non-exclusive, non-transferable license to "
    L"install and use the Software on computers you own or control, only together with games that "
    L"support it."
    L"\r\n\r\n"
    L"- Updates. The Software contacts the Licensor's update server each time it starts, and may "
    L"download and install new versions of itself and of the client stub without asking you again."
    L"\r\n\r\n"
    L"- Information. To check integrity the Software computes digests of the game's files and sends "
    L"them to the update server. It does not read your documents, messages or other personal files."
    L"\r\n\r\n"
    L"- Restrictions. You may not copy, modify, decompile, disassemble or reverse engineer the "
    L"Software, remove its notices, or help anyone disable, bypass or imitate any part of it."
    L"\r\n\r\n"
    L"- Fair play. If the Software finds that a protected game was altered, the game's operator may "
    L"refuse your connection or act under its own rules. The Licensor does not decide such measures."
    L"\r\n\r\n"
    L"- Ownership. The Software is licensed, not sold. The Licensor and its suppliers keep all rights "
    L"in it that this Agreement does not expressly grant to you."
    L"\r\n\r\n"
    L"- Third parties. Games that use the Software are made by other companies. Their own terms apply "
    L"to them, and the Licensor is not responsible for their content, servers or availability."
    L"\r\n\r\n"
    L"- No warranty. The Software is provided \"as is\", without warranty of any kind, express or "
    L"implied, including the warranties of merchantability and fitness for a particular purpose."
    L"\r\n\r\n"
    L"- Limitation of liability. To the extent the law allows, the Licensor is not liable for any "
    L"indirect, incidental or consequential damages, or for loss of data, profits or play time."
    L"\r\n\r\n"
    L"- Termination. This Agreement ends at once if you breach it. You may end it at any time by "
    L"removing the Software; the sections on ownership, warranty and liability survive its end."
    L"\r\n\r\n"
    L"Zarnovelle Software may change this Agreement. The changed text will be shown to you before it "
    L"applies. If any part of it cannot be enforced, the rest remains in effect.";

}  // namespace zv
