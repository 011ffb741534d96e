A stray closing bracket first
]+
Two loops opened
[>[+
One closes and two are stray
]]]<
One left open at the end
[.
