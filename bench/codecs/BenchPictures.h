#pragma once
// A photo-like 1080p BGRA frame for the codec benchmarks: smooth gradients,
// soft shading, hard-edged shapes, fine texture and sensor-like noise, so that
// blocks vary as in real footage (flat test patterns flatter every encoder).

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace fw::bench {

struct Picture {
    int width = 0;
    int height = 0;
    std::size_t stride = 0;
    std::vector<std::uint8_t> bgra;
};

inline Picture photoLikeFrame(int width = 1920, int height = 1080) {
    Picture p{width, height, static_cast<std::size_t>(width) * 4, {}};
    p.bgra.resize(p.stride * height);
    std::mt19937 random(1234);
    std::normal_distribution<double> noise(0.0, 3.0);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double u = double(x) / width, v = double(y) / height;
            // Sky-to-ground gradient with a soft sun and rolling hills.
            double r = 90 + 120 * v, g = 140 + 60 * v, b = 230 - 150 * v;
            const double sun = std::exp(-40 * ((u - 0.7) * (u - 0.7) + (v - 0.25) * (v - 0.25)));
            r += 120 * sun, g += 100 * sun, b += 40 * sun;
            const double hill = 0.6 + 0.08 * std::sin(9 * u) + 0.04 * std::sin(23 * u + 1);
            if (v > hill) {
                const double grass = 0.5 + 0.5 * std::sin(300 * u + 40 * std::sin(70 * v)) * std::sin(200 * v);
                r = 50 + 40 * grass, g = 110 + 60 * grass, b = 40 + 20 * grass;
            }
            // A hard-edged building with windows.
            if (u > 0.15 && u < 0.32 && v > 0.35 && v < hill + 0.02) {
                const bool window = (x / 14) % 3 == 1 && (y / 20) % 3 == 1;
                r = window ? 250 : 120, g = window ? 230 : 110, b = window ? 150 : 105;
            }
            const double grain = noise(random);
            std::uint8_t* px = p.bgra.data() + static_cast<std::size_t>(y) * p.stride + 4 * x;
            auto clamp = [](double c) {
                return static_cast<std::uint8_t>(std::lround(std::fmin(255, std::fmax(0, c))));
            };
            px[0] = clamp(b + grain);
            px[1] = clamp(g + grain);
            px[2] = clamp(r + grain);
            px[3] = clamp(255 * (0.5 + 0.5 * std::cos(5 * u) * std::sin(3 * v + 0.5)));
        }
    }
    return p;
}

}  // namespace fw::bench
