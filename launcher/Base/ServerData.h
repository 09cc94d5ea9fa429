// Reading the server information the operator returns: a JSON object whose fields name the current
// server, the player and the IM page, and whose "data" list holds the game servers. Reading only; what
// the launcher does with it is in RemoteFetch.
#pragma once

#include "Common/String.h"

#include <vector>

namespace Vexel
{

// Which JSON fields hold what; an empty name reads nothing.
struct ServerDataFields
{
    String mCurrent;         // the current server's name
    String mName, mId, mUrl; // fields of each server object
    String mUser;            // the player's text
    String mImUrl, mImTitle; // the IM page's address and title
};

struct ServerData
{
    bool mHasCurrent = false;
    String mCurrent;
    bool mHasUser = false;
    String mUser;
    bool mHasIm = false; // both IM fields present, the address an http(s) one
    String mImUrl, mImTitle;
    bool mHasList = false; // a "data" list was present
    std::vector<String> mNames, mIds, mUrls;
    int mSkipped = 0; // server objects that could not be used
};

// The fields from setInfoServer's fourth and fifth texts ("name|id|url") and the user and IM menus'
// kept texts.
ServerDataFields MakeServerDataFields(const String& currentField, const String& listFields,
                                      const String& userField, const String& imUrlField,
                                      const String& imTitleField);

// False, with a trace line, when the bytes are refused: above the size limit or not a JSON object.
// Server objects that cannot be used are skipped, each with a trace line.
bool ReadServerData(const std::vector<_byte>& bytes, const ServerDataFields& fields, ServerData& data,
                    std::size_t limit);

// Whether the address is one a page may be sent to (http or https).
bool IsWebAddress(const String& url);

} // namespace Vexel
