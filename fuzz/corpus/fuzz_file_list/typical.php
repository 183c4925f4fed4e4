[
{ path: "client.exe", time: "1500000000" },
{ path: "data/map0.mul", time: "1499999000" },
{ path: "Data/Sounds/sound.idx", time: "1300000000" }
]
