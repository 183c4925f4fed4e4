[
{ path: "../evil.exe", time: "1" },
{ path: "/etc/passwd", time: "2" },
{ path: "C:x", time: "3" },
{ path: "a\\..\\b", time: "4" },
{ path: "a..b", time: "5" },
{ path: "ok.txt", time: "99999999999" }
]
