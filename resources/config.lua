-- Settings of the demo operator (a site on this machine). Plain globals only; launcher.lua reads them.
local site = "http://127.0.0.1:8088"

entry = site .. "/login"
gamepage = site .. "/game"
gamepage2 = site .. "/game2"
weburl = site .. "/"
bbsurl = site .. "/forum"
mcurl = site .. "/client/vexel-launcher"
mcmd5url = site .. "/client/vexel-launcher.md5"
pluginurl = site .. "/client/vexelsetup.exe"
dlurl = site .. "/hall/hall.exe"
kickoffFunc = "kickoff"
title = "Vexel Demo"
appName = "vexeldemo"
-- The program keeps a copy of itself as <data folder>/<fileName>; downloaded builds are named after it.
fileName = "vexel-launcher"
-- Signers a downloaded build of the program must carry a valid signature of ("Name|Other Name"), and the
-- operator's CA file; unset, the published digest alone decides.
-- programSigners = "Vexel Studio Ltd."
-- programCaFile = "/path/to/operator-ca.pem"
borderWidth = 2
borderColor = 0x806142
minW = 640
minH = 480
servers = site .. "/servers"
servers2 = site .. "/servers2"
logout = site .. "/logout"
exiturl = site .. "/exit"
-- Server information: {uid} and {sid} come from the pages' cookies and address, {sign} is computed.
infoserver = site .. "/serverinfo?uid={uid}&sid={sid}&sign={sign}"
appTimeout = 30000
-- The game module: who players contact when it cannot run, the host of the block list ("/dev/bl" on
-- it), the signers accepted (names separated by "|"; the built-in three when unset), digests of unsigned
-- builds that may run ("|" between them) and a file of CA certificates trusted for module signatures
-- besides the system's (scripts/demo and the tests name the demo game's test CA here).
supportAddress = "support@vexel-demo.test"
blockListHost = site
loaderSigners = nil
loaderDigests = nil
loaderCaFile = nil
-- Origins of the operator's pages that none of these addresses names (a sign-in host reached by a link),
-- "|" between them; their pages may then use the client's `external` object.
trustedOrigins = nil
chargeurl = site .. "/charge"
moreurl = site .. "/more"

-- The main window and the places on it.
frameW = 600
frameH = 400
frameCloseX = 566
frameCloseY = 16
frameCloseW = 24
frameCloseH = 24
frameMinX = 536
frameMinY = 16
frameMinW = 24
frameMinH = 24
frameWebX = 20
frameWebY = 76
frameWebW = 560
frameWebH = 250
frameClearX = 440
frameClearY = 344
frameClearW = 140
frameClearH = 34

-- The game frame's menu bar.
menuTop = 4
menuLeft = 250
menuRight = 8
