// The sign of a zero product: the engine multiplies integers as integers.
var z = 0, m = -1, o = 0; o *= -2;
document.write(1 / (z * m), 1 / (m * z), 1 / (0 * -5), 1 / o, 1 / (z * z));
