[
{ path: "client.exe", time: "1500000000" },
{ path: "data/map0.mul", time: "1499999000" }
]
