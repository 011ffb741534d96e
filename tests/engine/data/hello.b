Prints Hi and a line break
++++++++[>+++++++++<-]>.    H is 72
<++++[>++++++++<-]>+.       i is 105
[-]++++++++++.              line feed
