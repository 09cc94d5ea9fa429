// What the operator's server information gave (the remote fetches own it), and the texts of the menus
// it fills: the game servers in the order received, the current server's name, and the IM page.
#pragma once

#include "Common/String.h"

#include <array>
#include <vector>

namespace Vexel
{

struct ServerInfo
{
    std::vector<String> mServerNames, mServerIds, mServerUrls;
    String mCurrentServer;
    String mImUrl;
    String mImTitle;
    // The menus' kept texts (addCustomDropDownMenu, addCustomIMMenu, addCustomUserMenu): the IM and user
    // texts name the fields of the server information that fill those entries.
    std::array<String, 4> mDropDownTexts;
    std::array<String, 2> mImMenuTexts;
    std::array<String, 2> mUserMenuTexts;
};

} // namespace Vexel
