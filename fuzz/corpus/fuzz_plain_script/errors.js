var x; document.write('a'); document.write(x.length); document.write('b')
