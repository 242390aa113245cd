var x; docu$melt.                                           function  docwtn. docwtn.uemrite('b')
