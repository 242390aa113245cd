for (var i = 0; i < 5; i++) { if (i == 1) continue; if (i == 4) break; document.writeln(i) }
var n = 3; while (n) document.write(n--); do { document.write('d') } while (false)
function f(x) { return x * 2 } y = 5; document.write(y, typeof f)
