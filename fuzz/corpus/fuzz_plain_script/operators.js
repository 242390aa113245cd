var a = [1, [2, 'x'], null]; var s = 'k' + a; a += 1; var n = 7 % 3 << 2 >>> 1 | 5 & ~2 ^ 1;
document.write(s, n, a.length, 'abc'[1], typeof a, typeof q, 1 / 3, -0 + '', [] == '', null == undefined);
