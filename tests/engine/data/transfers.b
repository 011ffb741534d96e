The eight shapes with single steps
[-<+>] [->+<] [->-<] [-<->] [<+>-] [>+<-] [<->-] [>-<-]
Longer runs
[--<<+++>>] [>>-<<---]
Moves that do not return
[->>+<]
A shape inside a loop
+[>[-<+>]<-]
