#include "Pages.h"

#include "DemoPortal.h"

namespace Vexel::Portal
{

namespace
{
// One style sheet for the whole site; the login and server pages must fit the client's small main
// window (560 x 250), so they stay compact.
const char* _STYLE = R"CSS(
* { box-sizing: border-box; }
html, body { margin: 0; height: 100%; }
body { font: 14px/1.45 "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Microsoft YaHei", sans-serif;
       color: #1f2d3d; background: linear-gradient(160deg, #f4f7fb 0%, #e3ebf4 100%); }
a { color: #1d6fd6; text-decoration: none; }
a:hover { text-decoration: underline; }
.brand { font-weight: 700; color: #183b63; letter-spacing: .5px; }
.brand small { font-weight: 400; color: #6b7f95; margin-left: 6px; }
.card { background: #fff; border-radius: 8px; box-shadow: 0 2px 10px rgba(24, 59, 99, .12); }
.compact { padding: 12px 18px; }
.row { display: flex; flex-wrap: wrap; align-items: center; gap: 10px; }
.spread { justify-content: space-between; }
label { width: 64px; color: #4a5d73; }
input[type=text], input[type=password] { flex: 1; height: 30px; padding: 0 8px; border: 1px solid #c5d2e0;
       border-radius: 4px; font: inherit; }
input:focus { outline: none; border-color: #1d6fd6; box-shadow: 0 0 0 2px rgba(29, 111, 214, .15); }
button, .button { display: inline-block; white-space: nowrap; height: 32px; padding: 0 18px; border: 0; border-radius: 4px;
       background: #1d6fd6; color: #fff; font: inherit; line-height: 32px; cursor: pointer; }
button:hover, .button:hover { background: #175bb0; text-decoration: none; }
button.quiet { background: #e8eef5; color: #1f2d3d; }
.error { color: #c0392b; min-height: 20px; }
.muted { color: #6b7f95; font-size: 12px; }
.servers { display: grid; grid-template-columns: repeat(3, 1fr); gap: 10px; margin: 10px 0; }
.server { display: block; padding: 10px; border: 1px solid #d5e0ec; border-radius: 6px; background: #fff;
       color: #1f2d3d; }
.server:hover { border-color: #1d6fd6; text-decoration: none; box-shadow: 0 2px 8px rgba(29, 111, 214, .18); }
.server b { display: block; font-size: 15px; }
.state { font-size: 12px; }
.state.good { color: #1e8e3e; } .state.busy { color: #d68910; }
.page { max-width: 880px; margin: 0 auto; padding: 24px; }
.stage { height: 100%; display: flex; align-items: center; justify-content: center; color: #dfe8f2;
       background: radial-gradient(circle at 50% 40%, #24476e 0%, #0f1f33 70%); }
.stage h1 { font-weight: 400; margin: 0 0 10px; }
.bar { width: 320px; height: 6px; border-radius: 3px; background: rgba(255,255,255,.15); overflow: hidden; }
.bar i { display: block; height: 100%; width: 40%; background: #4da3ff; animation: run 1.6s ease-in-out infinite; }
@keyframes run { 0% { margin-left: -40%; } 100% { margin-left: 100%; } }
.list { list-style: none; margin: 0; padding: 0; }
.list li { padding: 8px 10px; border-bottom: 1px solid #e6ecf2; }
.list li.unread { font-weight: 700; }
.list time { float: right; color: #8a9bb0; font-weight: 400; font-size: 12px; }
.plans { display: grid; grid-template-columns: repeat(3, 1fr); gap: 12px; margin: 16px 0; }
.plan { padding: 14px; text-align: center; }
.plan b { display: block; font-size: 22px; color: #183b63; }
.screen { height: 220px; border-radius: 6px; background: #0f1f33; display: flex; align-items: center;
       justify-content: center; color: #9fb3c8; }
)CSS";

std::string Document(const std::string& title, const std::string& body, const std::string& bodyClass = {},
                     const std::string& script = {})
{
    std::string html = "<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width\"><title>" +
                       EscapeHtml(title) + "</title><style>" + _STYLE + "</style></head><body";
    if (!bodyClass.empty())
        html += " class=\"" + bodyClass + "\"";
    html += ">\n" + body + "\n";
    if (!script.empty())
        html += "<script>\n" + script + "\n</script>\n";
    return html + "</body></html>\n";
}

// Calls into the client only when the page runs inside it.
const char* _CLIENT_SCRIPT = R"JS(
function inClient() {
  try { return !!(window.external && window.external.ismc && window.external.ismc()); } catch (e) { return false; }
}
function clientLog(text) { if (inClient()) window.external.consoleMsg(text); }
)JS";
} // namespace

std::string EscapeHtml(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
    {
        switch (c)
        {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string JsonQuote(const std::string& text, bool forScript)
{
    static const char _HEX[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : text)
    {
        auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            (out += '\\') += c;
        else if (u < 0x20 || (forScript && (c == '<' || c == '>' || c == '&')))
            out += std::string("\\u00") + _HEX[u >> 4] + _HEX[u & 15];
        else
            out += c;
    }
    return out + "\"";
}

std::string LoginPage(const std::string& error)
{
    std::string body = R"HTML(<div class="compact">
<div class="row spread"><div class="brand">Vexel 游戏平台<small>Game portal</small></div>
<span class="muted">新用户登录即注册</span></div>
<form class="card compact" method="post" action="/login" style="margin-top:10px">
<div class="row" style="margin-bottom:8px"><label for="user">用户名</label>
<input type="text" id="user" name="user" autocomplete="username" autofocus></div>
<div class="row" style="margin-bottom:6px"><label for="password">密码</label>
<input type="password" id="password" name="password" autocomplete="current-password"></div>
<div class="row spread"><span class="error" id="error">)HTML" +
                       EscapeHtml(error) + R"HTML(</span>
<button type="submit" id="login">登录 Sign in</button></div>
</form>
<p class="muted" style="margin:8px 2px 0">演示站点：任意用户名均可登录。 Any user name signs in on this demo site.</p>
</div>)HTML";
    return Document("登录 - Vexel 游戏平台", body);
}

std::string ServerListPage(const std::string& user, const std::vector<Server>& servers,
                           const std::vector<std::string>& links)
{
    static const char* const _STATES[] = {"<span class=\"state good\">● 流畅</span>",
                                          "<span class=\"state busy\">● 繁忙</span>",
                                          "<span class=\"state good\">● 新区</span>"};
    std::string body = "<div class=\"compact\"><div class=\"row spread\"><div class=\"brand\">选择服务器"
                       "<small>Choose a server</small></div><span>欢迎, <b id=\"user\">" +
                       EscapeHtml(user) +
                       "</b> · <a id=\"logout\" href=\"/logout\">退出登录</a></span></div>";
    body += "<div class=\"servers\">";
    for (std::size_t i = 0; i < servers.size() && i < links.size(); ++i)
        body += "<a class=\"server\" id=\"server" + std::to_string(i + 1) + "\" href=\"" +
                EscapeHtml(links[i]) + "\"><b>" + EscapeHtml(servers[i].name) + "</b>" + _STATES[i % 3] +
                "</a>";
    body += "</div><p class=\"muted\">点击服务器进入游戏。 Click a server to enter the game.</p></div>";
    return Document("服务器列表 - Vexel 游戏平台", body);
}

std::string GamePage(const std::string& serverName, const std::vector<GameParam>& params)
{
    std::string body = "<div class=\"stage\"><div style=\"text-align:center\"><h1>正在进入 " +
                       EscapeHtml(serverName) +
                       "</h1><p>Entering the game…</p><div class=\"bar\"><i></i></div>"
                       "<object id=\"game\" type=\"application/x-vexel-game\" width=\"0\" height=\"0\">";
    for (const GameParam& param : params)
        body += "\n<param name=\"" + EscapeHtml(param.name) + "\" value=\"" + EscapeHtml(param.value) + "\">";
    body += "\n</object></div></div>";
    return Document("游戏 - " + serverName, body, "stage");
}

std::string MessagesPage(const std::string& user, const std::string& serverName)
{
    std::string body = "<div class=\"page\" style=\"padding:12px\"><div class=\"row spread\"><div "
                       "class=\"brand\">消息<small>Messages</small></div><span class=\"muted\">" +
                       EscapeHtml(serverName) + "</span></div>";
    body += R"HTML(<ul class="list card" style="margin:10px 0" id="messages">
<li class="unread">系统：欢迎来到新服务器，今晚八点开启攻城战。<time>20:00</time></li>
<li class="unread">公会：请大家准时上线集合。<time>19:42</time></li>
<li>好友 小明：明天一起做任务吧？<time>昨天</time></li>
</ul>
<div class="row"><button id="newmsg">新消息</button><button class="quiet" id="gsname">服务器名</button>
<button class="quiet" id="log">日志</button></div></div>)HTML";
    std::string script = _CLIENT_SCRIPT;
    script += "var serverName = " + JsonQuote(serverName) + ";\nvar user = " + JsonQuote(user) + ";\n";
    script += R"JS(
function announce() {
  if (!inClient()) return;
  window.external.consoleMsg('messages page of ' + user + ' on ' + serverName);
  window.external.getGsName(serverName);
  if (document.querySelectorAll('#messages li.unread').length > 0) window.external.getNewMsg();
}
document.getElementById('newmsg').onclick = function () { if (inClient()) window.external.getNewMsg(); };
document.getElementById('gsname').onclick = function () { if (inClient()) window.external.getGsName(serverName); };
document.getElementById('log').onclick = function () { clientLog('button pressed on the messages page'); };
window.addEventListener('load', announce);
)JS";
    return Document("消息", body, {}, script);
}

std::string PaymentPage(const std::string& user, const std::string& site)
{
    std::string body = "<div class=\"page\"><div class=\"brand\">充值中心<small>Recharge</small></div>"
                       "<p>账号 <b>" +
                       EscapeHtml(user) + "</b></p>";
    body += R"HTML(<div class="plans"><div class="card plan"><b>¥10</b>100 金币</div>
<div class="card plan"><b>¥50</b>520 金币</div><div class="card plan"><b>¥100</b>1100 金币</div></div>
<div class="row"><button id="pay">立即充值 Pay</button><button class="quiet" id="video">观看攻略视频 Watch the guide</button>
<span class="muted" id="result"></span></div></div>)HTML";
    std::string script = _CLIENT_SCRIPT;
    script += "var videoUrl = " + JsonQuote(site + "/video") + ";\n";
    script += R"JS(
// Page commands reach the client through external.invoke(name, arguments) where the client offers it.
function command(name, args) {
  if (!inClient()) return false;
  if (typeof window.external.invoke === 'function') return window.external.invoke(name, args);
  window.external.consoleMsg('page command ' + name + ' is not available');
  return false;
}
document.getElementById('video').onclick = function () {
  var r = command('openvideo', ['120', '80', '640', '420', videoUrl, '攻略视频']);
  document.getElementById('result').textContent = r ? '' : '请在客户端中观看';
};
document.getElementById('pay').onclick = function () {
  document.getElementById('result').textContent = '演示站点不收款。 This demo takes no payment.';
};
)JS";
    return Document("充值中心", body, {}, script);
}

std::string VideoPage()
{
    std::string body =
        R"HTML(<div class="page" style="padding:10px"><div class="screen" id="screen">▶ 攻略视频 · Guide video</div>
<p class="muted">第一章：新手入门。 Chapter one: first steps.</p></div>)HTML";
    return Document("攻略视频", body);
}

std::string GoodbyePage()
{
    std::string body = R"HTML(<div class="compact" style="text-align:center;padding-top:60px">
<div class="brand" style="font-size:20px">再见，欢迎再来！</div><p class="muted">Goodbye, see you soon.</p></div>)HTML";
    return Document("再见", body);
}

std::string InfoPage(const std::string& title, const std::string& text)
{
    std::string body = "<div class=\"page\"><div class=\"brand\">" + EscapeHtml(title) +
                       "</div><div class=\"card "
                       "compact\" style=\"margin-top:12px\"><p>" +
                       EscapeHtml(text) + "</p></div></div>";
    return Document(title, body);
}

std::string NotFoundPage()
{
    return InfoPage("页面不存在", "没有找到这个页面。 This page does not exist.");
}

} // namespace Vexel::Portal
