-- The launcher script: builds the windows from the settings globals and reads the command line.
local L = _launcher

-- Private messages and frame slots.
MSG_CS = 0x464 -- server chosen in the server window's combo box
MSG_LOGOFF = 0x465
MSG_SETBOSS = 0x466
MSG_CONFIRM = 0x467
MSG_CLOSEFRM = 0x468
MSG_SETUPPLUGIN = 0x469
SERVER_WIN = 1
BOSS_WIN = 2
PROMPT_WIN = 3
PLUGIN_WIN = 4
PLUGIN2_WIN = 5
COPYING_WIN = 6

local WHITE = 0xE8EEF5
local FONT = "Sans"

L.appName = appName
L.title = title
L.titleFont = FONT
L.titleColor = WHITE
L.borderWidth = borderWidth
L.borderColor = borderColor
L.resizable = true
L.width = 1024
L.height = 640
L:setMinSize(minW, minH)
L:setLoadingSize(640, 480)
L.appTimeout = appTimeout or 30000
L.supportAddress = supportAddress or ""
L.trustedOrigins = trustedOrigins or ""
L.blockListHost = blockListHost or ""
L.loaderCaFile = loaderCaFile or ""
if loaderSigners then
    L.loaderSigners = loaderSigners
end
if loaderDigests then
    L.loaderDigests = loaderDigests
end

if fileName then
    L.fileName = fileName
end
if programSigners then
    L:setProgramSigners(programSigners, programCaFile or "")
end
if installApp then
    L:installApp()
end
if appAutoStart then
    L.appAutoStart = true
end

-- Command-line switches: "/delete <path>", "/copy <path>", "/uninstall", "/regserver", "/noshortcut". A
-- switch is a whole argument and its value the next one, so that paths holding "/copy" or "/uninstall"
-- (every path here has slashes) never count as switches. Arguments split as the command line was joined:
-- blanks outside quotes separate them, quotes group, and backslashes escape a quote.
local function splitArguments(text)
    local words, word, quoted, inWord, slashes = {}, {}, false, false, 0
    local function flush()
        if inWord then
            words[#words + 1] = table.concat(word)
        end
        word, inWord = {}, false
    end
    for i = 1, #text do
        local c = string.sub(text, i, i)
        if c == "\\" then
            slashes = slashes + 1
            inWord = true
        else
            if c == '"' then
                word[#word + 1] = string.rep("\\", math.floor(slashes / 2))
                if slashes % 2 == 1 then
                    word[#word + 1] = '"'
                else
                    quoted = not quoted
                end
                inWord = true
            else
                word[#word + 1] = string.rep("\\", slashes)
                if (c == " " or c == "\t") and not quoted then
                    flush()
                else
                    word[#word + 1] = c
                    inWord = true
                end
            end
            slashes = 0
        end
    end
    word[#word + 1] = string.rep("\\", slashes)
    flush()
    return words
end

-- The value of "/delete" and "/copy" is the next argument whatever it reads; it is never a switch itself.
local switches = {}
do
    local args = splitArguments(L.cmd or "")
    local i = 1
    while i <= #args do
        local word = args[i]
        if word == "/delete" or word == "/copy" then
            switches[word] = args[i + 1] or ""
            i = i + 1
        elseif word == "/uninstall" or word == "/regserver" or word == "/noshortcut" then
            switches[word] = true
        end
        i = i + 1
    end
end
local function hasSwitch(name)
    return switches[name] ~= nil
end

local deletePath = switches["/delete"]
local copyPath = switches["/copy"]
if deletePath then
    L:deleteFile(deletePath)
elseif copyPath then
    L:copyTo(copyPath)
end
-- The install step removes the program, its data folder, entries and shortcuts; nothing else runs.
if hasSwitch("/uninstall") then
    L:uninstallApp()
    L:abort()
    return
end
if hasSwitch("/regserver") then
    L:abort()
    return
end
if not hasSwitch("/noshortcut") then
    L:createShortcut(title)
end

-- Main window (slot 0): background, close and minimise buttons, user buttons and the web window.
local x = math.floor((L.screenWidth - frameW) / 2)
local y = math.floor((L.screenHeight - frameH) / 2)
L:resize(x, y, frameW, frameH, 0)
L:setBackground("skin/main_bg.png", 0)
L:addCloseButton(frameCloseX, frameCloseY, frameCloseW, frameCloseH, "skin/close_n.png", "skin/close_h.png",
    "skin/close_p.png", 0)
L:addMinimizeButton(frameMinX, frameMinY, frameMinW, frameMinH, "skin/min_n.png", "skin/min_h.png",
    "skin/min_p.png", 0)
L:addLabel(1, 24, 16, 400, 28, title, FONT, WHITE, 20, 0, 0)
L:addLabel(2, frameWebX, frameWebY + 100, frameWebW, 40, "Sign in to choose a server", FONT, 0x9FB3C8, 16, 1, 0)

local forum = L:addUserButton(20, frameClearY, 140, 34, "skin/user_n.png", "skin/user_h.png", "skin/user_p.png",
    1, 0)
forum.onClick = function()
    L:browse(bbsurl)
end
L:addLabel(3, 20, frameClearY + 8, 140, 20, "Forum", FONT, WHITE, 15, 1, 0)
local clean = L:addUserButton(frameClearX, frameClearY, frameClearW, frameClearH, "skin/user_n.png",
    "skin/user_h.png", "skin/user_p.png", 1, 0)
clean.onClick = function()
    L:cleanCache()
end
L:addLabel(4, frameClearX, frameClearY + 8, frameClearW, 20, "Clear cache", FONT, WHITE, 15, 1, 0)
L:addWebWindow(frameWebX, frameWebY, frameWebW, frameWebH, entry, 0, true, 0)
L:setCleanCachePrompt(title, "Delete the downloaded game files? They are fetched again when needed.")
L:setPrompts("Leave the game?", "The connection was lost.",
    "The boss key needs Ctrl, Alt or Shift with the key.", "You are on this server already. Enter it again?")

-- Game frame: custom title bar, image menu entries and title-bar buttons, plus a text window menu.
L:setCustomTitleBarBackground("skin/title_left.png", "skin/title_right.png", "skin/title_mid.png")
L:setCustomTitleBarIcon("skin/icon.png")
L:setBackgroundLogo("skin/logo.png")
L:setCustomMenuBarMargins(menuLeft, menuTop, menuRight, 0)
L:setCustomMenuTextColor(0xC8D4E0, 0xFFFFFF)
local m1, m2, m3 = "skin/menu_n.png", "skin/menu_h.png", "skin/menu_p.png"
L:addCustomGameMenu(false, 1, m1, m2, m3, "Game", 0)
L:addCustomURLMenu(false, 2, 10, chargeurl, m1, m2, m3, "Recharge", 0, "")
L:addCustomRefreshMenu(false, 3, m1, m2, m3, "Refresh", 0, "")
L:addCustomCleanMenu(false, 4, m1, m2, m3, "Clear cache")
L:addCustomBossMenu(true, 1, m1, m2, m3, "Boss key", 0, "")
-- The IM and user entries name the server data's fields they show: the messages page and its title, the
-- player's nickname.
L:addCustomIMMenu(true, 2, m1, m2, m3, "Messages", "imurl", "imtitle", 0, "", "")
L:addCustomUserMenu(true, 3, m1, m2, m3, "Account", "nickname", "Log off", 0, "")
L:addCustomDropDownMenu(true, 4, m1, m2, m3, "Servers", "More", "Forum", "Help")
-- The messages pop-up (placed under its menu entry) and the video / payment pop-up.
L:setIMParams(0, 0, 340, 440, 0x2F4A66, WHITE, FONT, " - Messages")
L:setIMTitleBg("skin/title_mid.png")
L:setIMCloseButton("skin/close_n.png", "skin/close_h.png", 6, 4)
L:setVideoParams(0x2F4A66, WHITE, FONT)
L:setVideoTitleBg("skin/title_mid.png")
L:setVideoCloseButton("skin/close_n.png", "skin/close_h.png", 6, 4)
L:addCustomCloseButton(1, "skin/tb_close_n.png", "skin/tb_close_h.png", "skin/tb_close_p.png", "")
L:addCustomMaxButton(2, "skin/tb_max_n.png", "skin/tb_max_h.png", "skin/tb_max_p.png", "")
L:addCustomRestoreButton(3, "skin/tb_restore_n.png", "skin/tb_restore_h.png", "skin/tb_restore_p.png", "")
L:addCustomMinButton(4, "skin/tb_min_n.png", "skin/tb_min_h.png", "skin/tb_min_p.png", "")
L:addCustomTrayButton(5, "skin/tb_tray_n.png", "skin/tb_tray_h.png", "skin/tb_tray_p.png", "")

-- Boss-key settings window: check box and hot-key box.
L:newFrameWin(BOSS_WIN, "Boss key", x + 120, y + 100, 360, 200, 2)
L:setBackground("skin/panel_bg.png", BOSS_WIN)
L:addLabel(1, 16, 8, 300, 24, "Boss key", FONT, WHITE, 16, 0, BOSS_WIN)
L:addCheckBox(0, 16, 56, 20, 20, BOSS_WIN)
L:addLabel(2, 44, 56, 280, 22, "Hide the game with a key", FONT, WHITE, 14, 0, BOSS_WIN)
L:addHotkeyBox(0, 16, 96, 200, 26, FONT, 0, 14, 0, BOSS_WIN)
L:addCloseButton(326, 6, 24, 24, "skin/close_n.png", "skin/close_h.png", "skin/close_p.png", BOSS_WIN)
local bossOk = L:addUserButton(230, 144, 110, 34, "skin/user_n.png", "skin/user_h.png", "skin/user_p.png", 1,
    BOSS_WIN)
bossOk.onClick = function()
    L:sendMsg(MSG_SETBOSS, BOSS_WIN, 0)
end
L:addLabel(3, 230, 152, 110, 20, "OK", FONT, WHITE, 15, 1, BOSS_WIN)

-- Server window: the servers of the server data in a combo box; choosing one changes the server.
L:newFrameWin(SERVER_WIN, "Servers", x + 120, y + 100, 300, 120, 2)
L:setBackground("skin/panel_bg.png", SERVER_WIN)
L:addLabel(1, 16, 8, 260, 24, "Choose a server", FONT, WHITE, 16, 0, SERVER_WIN)
L:addComboBox(0, 16, 50, 268, 200, FONT, 0, 14, 0, SERVER_WIN)
L:addCloseButton(266, 6, 24, 24, "skin/close_n.png", "skin/close_h.png", "skin/close_p.png", SERVER_WIN)

-- Prompt window: a question (label 0) with OK and Cancel.
L:newFrameWin(PROMPT_WIN, "Question", x + 120, y + 100, 360, 200, 2)
L:setBackground("skin/panel_bg.png", PROMPT_WIN)
L:addLabel(1, 16, 8, 300, 24, title, FONT, WHITE, 16, 0, PROMPT_WIN)
L:addLabel(0, 16, 56, 328, 60, "", FONT, WHITE, 14, 0, PROMPT_WIN)
local yes = L:addUserButton(100, 144, 110, 34, "skin/user_n.png", "skin/user_h.png", "skin/user_p.png", 1,
    PROMPT_WIN)
yes.onClick = function()
    L:sendMsg(MSG_CONFIRM, PROMPT_WIN, 0)
end
L:addLabel(2, 100, 152, 110, 20, "OK", FONT, WHITE, 15, 1, PROMPT_WIN)
local no = L:addUserButton(230, 144, 110, 34, "skin/user_n.png", "skin/user_h.png", "skin/user_p.png", 1,
    PROMPT_WIN)
no.onClick = function()
    L:sendMsg(MSG_CLOSEFRM, PROMPT_WIN, 0)
end
L:addLabel(3, 230, 152, 110, 20, "Cancel", FONT, WHITE, 15, 1, PROMPT_WIN)
L:addCloseButton(326, 6, 24, 24, "skin/close_n.png", "skin/close_h.png", "skin/close_p.png", PROMPT_WIN)

-- Plug-in set-up window and its progress window.
for _, slot in ipairs({PLUGIN_WIN, PLUGIN2_WIN}) do
    L:newFrameWin(slot, "Plug-in", x + 120, y + 100, 360, 200, 2)
    L:setBackground("skin/panel_bg.png", slot)
    L:addLabel(1, 16, 8, 300, 24, "Game plug-in", FONT, WHITE, 16, 0, slot)
    L:addLabel(2, 16, 60, 328, 60, "The game needs its plug-in. It is installed for you.", FONT, WHITE, 14, 0,
        slot)
    L:addCloseButton(326, 6, 24, 24, "skin/close_n.png", "skin/close_h.png", "skin/close_p.png", slot)
end
local install = L:addUserButton(230, 144, 110, 34, "skin/user_n.png", "skin/user_h.png", "skin/user_p.png", 1,
    PLUGIN_WIN)
install.onClick = function()
    L:sendMsg(MSG_SETUPPLUGIN, PLUGIN_WIN, 0)
end
L:addLabel(3, 230, 152, 110, 20, "Install", FONT, WHITE, 15, 1, PLUGIN_WIN)
L:setupPlugin(pluginurl)

-- Progress window: copying, deleting and the upgrade check report here.
L:newFrameWin(COPYING_WIN, "Copying", x + 120, y + 100, 360, 200, 2)
L:setBackground("skin/panel_bg.png", COPYING_WIN)
L:addLabel(1, 16, 8, 300, 24, (copyPath or deletePath) and "Copying files" or "Checking for updates", FONT, WHITE,
    16, 0, COPYING_WIN)
L:addProgressBar(0, 30, 100, 300, 20, FONT, WHITE, 14, 1, "skin/bar_fill.png", "skin/bar_back.png", COPYING_WIN)

-- Pages, kick function, loader and client check.
-- Frame URLs are shown in the main window (login, server list); quiet URLs are the game pages, kept
-- hidden while the loader is read from them. No exit page: closing asks the exit question instead.
L:setFrameURLs(entry, servers, servers2, "")
L:setLogoffURL(logout)
L:setQuietURLs(gamepage, gamepage2, "", "")
L:setInfoServer(infoserver, "uid", "userid", "gsname", "name|sid|url", "sid")
L:setKickFunc(kickoffFunc)
L:reportChannel(weburl .. "report")
L:setLoader("vexel3d.lod")
L:checkMC(mcurl, mcmd5url)
-- An operator without game pages starts the module directly: gameLoader names its file, or its address
-- on the operator's site (http:// or https://) with gameLoaderMd5 its digest and gameCdn the CDN
-- addresses tried after the address's own host ("host:port|host:port"), as a game page would give
-- them; gameParams its parameters ("name=value"). The main window then gives way to the game frame at
-- once. externalLauncher hands the module to the external game launcher instead of loading it.
if gameLoader then
    if externalLauncher then
        L.externalLauncher = true
    end
    if string.find(gameLoader, "^[Hh][Tt][Tt][Pp][Ss]?://") then
        L:startRemoteLoader(gameLoader, gameLoaderMd5 or "", gameCdn or "", gameParams or "")
    else
        L:startLoader(gameLoader, gameParams or "")
    end
end
print("launcher script done", L.appName)
