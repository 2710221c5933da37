// What a test and the Outlook double share: the double's class identifier,
// which a test registers under "Outlook.Application", and the environment
// variable naming the double's state file.
//
// The state file (JSON) is the double's whole world. The test writes
//   {"tasks": [{"body": "...", "percent": 0}, ...],
//    "fail": {"object": "namespace", "kind": "method", "member": 8459}}
// ("fail" optional: the first call that matches it fails, "kind" and
// "member" left out match any), and the double keeps in it, after every
// event:
//   "tasks"   the Tasks folder as last saved, each task with "saves", how
//             often it was saved;
//   "calls"   every call in order: {"object", "kind", "member", "args"},
//             kind "create", "method", "get", "put", "names" (a name looked
//             up; member is the name) or "released" (the object's last
//             reference went); args [{"type": "VT_BSTR", "value": ...}];
//   "objects" per object made: {"name", "addRefs", "releases"}.
// Objects are "application", "namespace", "folder", "items" and "task N"
// (the N-th task of the folder, from 1).
//
// Mail: "folders" maps each folder's name ("Inbox", "Sent Items", and any
// others, such as "Processed" once made) to its mail, each
//   {"entryId", "subject", "body", "htmlBody", "sender", "senderType"
//    ("SMTP" or "EX"), "exchangeSmtp", "received" (an automation date),
//    "messageClass" ("IPM.Note" unless given), "to"};
// a sent mail lands in "Sent Items" with "to", "subject" and "body". Calls
// on these objects (folders by name, "items of <folder>", "mail <entryId>",
// "new mail", "mailbox", "folders") also record the member's "name", and
// "fail" may name it and ask for "code": "RPC_E_CALL_REJECTED" (Outlook busy
// with a dialog) instead of a failure Outlook explains.
#pragma once

inline constexpr const char kOutlookDoubleStateVariable[] = "LVMAPI_OUTLOOK_DOUBLE_STATE";
inline constexpr const wchar_t kOutlookDoubleClassId[] = L"{6A1C4D2E-8F3B-4C57-9E21-7D0B5A9C3F14}";
