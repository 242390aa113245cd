#pragma once

#include "base/Step.h"
#include "net/SiteBases.h"
#include "net/Web.h"

#include <QString>

#include <optional>

namespace chenglan {

// The operator's data service is reached at SiteBases::service (ServiceBase):
// an http(s) address ending in "/", to which request paths are appended. It
// starts at the build's default; the three server slots replace it with the
// address named by the slot's link file on the server list.

inline constexpr int ServerSlotCount = 3;
// Colour of the chosen slot's caption: pure red.
inline constexpr int SelectedSlotColor = 255;

// "服务器一", "服务器二", "服务器三" for slots 0, 1, 2; empty otherwise.
QString serverSlotCaption(int slot);

// How a slot option is shown while selectedSlot is chosen: the chosen option
// bold in pure red, the others in normal weight and the system's button-text
// colour (no colour of its own).
struct ServerSlotLook {
    bool bold = false;
    std::optional<int> color;

    friend bool operator==(const ServerSlotLook &, const ServerSlotLook &) = default;
};
ServerSlotLook serverSlotLook(int option, int selectedSlot);

// The link file of a slot: serverListBase + "link(" + slot + ").txt".
QString serverLinkUrl(const QString &serverListBase, int slot);

// The service address a link file names: its text without outer blanks and
// line breaks, accepted only as an absolute http(s) address with a host,
// without user name or password, query or fragment, ending in "/". No value
// otherwise, with the reason in *why.
std::optional<QString> serviceBaseFromLink(const QString &text, QString *why = nullptr);

// What choosing a slot did.
struct ServerSlotChoice {
    int slot = -1;          // the slot now chosen (-1 when the number was not a slot)
    bool changed = false;   // ServiceBase took the address of the link file
    QString status;         // one sentence for the status bar

    friend bool operator==(const ServerSlotChoice &, const ServerSlotChoice &) = default;
};

// Fetches the slot's link file (decoded as gb2312) and makes the address it
// names the service base. A failed fetch, an error page, or any text that is
// not a service address keeps the previous base, and the result says so.
ServerSlotChoice SelectServerSlot(SiteBases &bases, int slot, Web &web, StepLog *log = nullptr);

} // namespace chenglan
