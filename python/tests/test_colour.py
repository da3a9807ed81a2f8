"""vantorel.colour against published data and hand-computed values."""

import math
import unittest

from vantorel.colour import (components, delta_e_76, delta_e_94, delta_e_2000, delta_e_cmc,
                             flop_index)

# G. Sharma, W. Wu, E. N. Dalal, "The CIEDE2000 color-difference formula:
# implementation notes, supplementary test data, and mathematical
# observations", Color Research and Application 30(1), 2005, Table 1:
# L1 a1 b1 L2 a2 b2 ΔE00 (kL = kC = kH = 1).
SHARMA = """
50.0000 2.6772 -79.7751 50.0000 0.0000 -82.7485 2.0425
50.0000 3.1571 -77.2803 50.0000 0.0000 -82.7485 2.8615
50.0000 2.8361 -74.0200 50.0000 0.0000 -82.7485 3.4412
50.0000 -1.3802 -84.2814 50.0000 0.0000 -82.7485 1.0000
50.0000 -1.1848 -84.8006 50.0000 0.0000 -82.7485 1.0000
50.0000 -0.9009 -85.5211 50.0000 0.0000 -82.7485 1.0000
50.0000 0.0000 0.0000 50.0000 -1.0000 2.0000 2.3669
50.0000 -1.0000 2.0000 50.0000 0.0000 0.0000 2.3669
50.0000 2.4900 -0.0010 50.0000 -2.4900 0.0009 7.1792
50.0000 2.4900 -0.0010 50.0000 -2.4900 0.0010 7.1792
50.0000 2.4900 -0.0010 50.0000 -2.4900 0.0011 7.2195
50.0000 2.4900 -0.0010 50.0000 -2.4900 0.0012 7.2195
50.0000 -0.0010 2.4900 50.0000 0.0009 -2.4900 4.8045
50.0000 -0.0010 2.4900 50.0000 0.0010 -2.4900 4.8045
50.0000 -0.0010 2.4900 50.0000 0.0011 -2.4900 4.7461
50.0000 2.5000 0.0000 50.0000 0.0000 -2.5000 4.3065
50.0000 2.5000 0.0000 73.0000 25.0000 -18.0000 27.1492
50.0000 2.5000 0.0000 61.0000 -5.0000 29.0000 22.8977
50.0000 2.5000 0.0000 56.0000 -27.0000 -3.0000 31.9030
50.0000 2.5000 0.0000 58.0000 24.0000 15.0000 19.4535
50.0000 2.5000 0.0000 50.0000 3.1736 0.5854 1.0000
50.0000 2.5000 0.0000 50.0000 3.2972 0.0000 1.0000
50.0000 2.5000 0.0000 50.0000 1.8634 0.5757 1.0000
50.0000 2.5000 0.0000 50.0000 3.2592 0.3350 1.0000
60.2574 -34.0099 36.2677 60.4626 -34.1751 39.4387 1.2644
63.0109 -31.0961 -5.8663 62.8187 -29.7946 -4.0864 1.2630
61.2901 3.7196 -5.3901 61.4292 2.2480 -4.9620 1.8731
35.0831 -44.1164 3.7933 35.0232 -40.0716 1.5901 1.8645
22.7233 20.0904 -46.6940 23.0331 14.9730 -42.5619 2.0373
36.4612 47.8580 18.3852 36.2715 50.5065 21.2231 1.4146
90.8027 -2.0831 1.4410 91.1528 -1.6435 0.0447 1.4441
90.9257 -0.5406 -0.9208 88.6381 -0.8985 -0.7239 1.5381
6.7747 -0.2908 -2.4247 5.8714 -0.0985 -2.2286 0.6377
2.0776 0.0795 -1.1350 0.9033 -0.0636 -0.5514 0.9082
"""


class ColourDifferenceTest(unittest.TestCase):
    def test_de2000_matches_sharma_wu_dalal_both_ways(self):
        rows = [list(map(float, line.split())) for line in SHARMA.strip().splitlines()]
        self.assertEqual(len(rows), 34)
        for number, row in enumerate(rows, 1):
            first, second, expected = row[0:3], row[3:6], row[6]
            with self.subTest(pair=number):
                self.assertAlmostEqual(delta_e_2000(first, second), expected, delta=5e-5)
                self.assertAlmostEqual(delta_e_2000(second, first), expected, delta=5e-5)

    def test_de94_cmc_and_de76_match_hand_computed_terms(self):
        grey, red, blue = (50, 0, 0), (50, 30, 0), (50, 0, -30)
        cases = [
            (delta_e_94(grey, (52, 0, 0)), 2.0),
            (delta_e_94(grey, (52, 0, 0), kL=2), 1.0),
            (delta_e_94(red, (50, 33, 0)), 3.0 / 2.35),
            (delta_e_94(red, (50, 33, 0), kC=2), 1.5 / 2.35),
            (delta_e_94(red, (50, 30, 4)), 2.754855113302581),
            (delta_e_cmc(grey, (51, 0, 0)), 0.4594264795607077),
            (delta_e_cmc(grey, (51, 0, 0), l=1, c=1), 0.9188529591214154),
            (delta_e_cmc((10, 0, 0), (11, 0, 0)), 0.9784735812133072),
            (delta_e_cmc(red, (50, 33, 0)), 1.4910441019376082),
            (delta_e_cmc(red, (50, 30, 4)), 2.8861553518867504),
            (delta_e_cmc(blue, (50, 4, -30)), 3.297515130926621),
            (delta_e_76(grey, (53, 4, 0)), 5.0),
        ]
        for number, (value, expected) in enumerate(cases):
            with self.subTest(case=number):
                self.assertAlmostEqual(value, expected, delta=1e-9)

    def test_components_symmetry_and_flop(self):
        reference = (50, 20, 10)
        for sample in [(52, 18, 14), (47, 23, 6), (50, -20, -10)]:
            d = components(reference, sample)
            self.assertAlmostEqual(d.dL ** 2 + d.dC ** 2 + d.dH ** 2,
                                   delta_e_76(reference, sample) ** 2, delta=1e-9)
        self.assertGreater(components(reference, (50, 18, 14)).dH, 0)
        self.assertLess(components(reference, (50, 23, 6)).dH, 0)
        a, b = (40, 35, -12), (43, 28, -5)
        self.assertAlmostEqual(delta_e_2000(a, b), delta_e_2000(b, a), delta=1e-12)
        self.assertGreater(abs(delta_e_cmc(a, b) - delta_e_cmc(b, a)), 1e-3)
        self.assertAlmostEqual(flop_index(100, 50, 20), 12.052245286794612, delta=1e-9)
        self.assertEqual(flop_index(20, 30, 40), 0.0)
        self.assertIsNone(flop_index(100, 0, 20))
        self.assertIsNone(flop_index(math.inf, 50, 20))


if __name__ == "__main__":
    unittest.main()
