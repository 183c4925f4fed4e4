<html>{ path: "x", time: ""}{ path: "y" time: "1" }{ path: "z", time: "12"
{ path:"w",time:"7"}