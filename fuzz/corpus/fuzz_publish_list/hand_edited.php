[{path:"x",time:"1"},
  { path: "y y", time: "0012" }   ,, { path: "z", time: "-1" }