// The HTML of the demo site's pages. Every page is self-contained: its style sheet and scripts are
// inline, nothing is fetched from elsewhere.
#pragma once

#include <string>
#include <vector>

namespace Vexel::Portal
{

struct Server;

// Text for HTML bodies and attribute values.
std::string EscapeHtml(const std::string& text);
// A JSON string literal of UTF-8 text; forScript also escapes what could end a script element.
std::string JsonQuote(const std::string& text, bool forScript = true);

std::string LoginPage(const std::string& error);
// Links: the game page address of each server, in the order of servers.
std::string ServerListPage(const std::string& user, const std::vector<Server>& servers,
                           const std::vector<std::string>& links);

struct GameParam
{
    std::string name;
    std::string value;
};
std::string GamePage(const std::string& serverName, const std::vector<GameParam>& params);

std::string MessagesPage(const std::string& user, const std::string& serverName);
std::string PaymentPage(const std::string& user, const std::string& site);
std::string VideoPage();
std::string GoodbyePage();
// A plain content page of the site (home, forum, more) with a title and a paragraph.
std::string InfoPage(const std::string& title, const std::string& text);
std::string NotFoundPage();

} // namespace Vexel::Portal
