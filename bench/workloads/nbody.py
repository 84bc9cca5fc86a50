"""N-body: the sun and the four outer planets under gravity, advanced n steps of 0.01 of
a year; prints the system's energy after them (-0.169085989 for n = 250 000). Reals
throughout. The bodies are parallel lists x, y, z, vx, vy, vz, mass indexed 1 to 5."""
import sys
from math import sqrt


def set_body(x, y, z, vx, vy, vz, mass, b, bx, by, bz, bvx, bvy, bvz, bmass):
    pi = 3.141592653589793
    days_per_year = 365.24
    x[b] = bx
    y[b] = by
    z[b] = bz
    vx[b] = bvx * days_per_year
    vy[b] = bvy * days_per_year
    vz[b] = bvz * days_per_year
    mass[b] = bmass * (4.0 * pi * pi)


def create_bodies(x, y, z, vx, vy, vz, mass):
    """The bodies' start, with the sun's velocity set so that the total momentum is
    zero."""
    set_body(x, y, z, vx, vy, vz, mass, 1, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0)
    set_body(x, y, z, vx, vy, vz, mass, 2, 4.84143144246472090, -1.16032004402742839,
             -0.103622044471123109, 0.00166007664274403694, 0.00769901118419740425,
             -0.0000690460016972063023, 0.000954791938424326609)
    set_body(x, y, z, vx, vy, vz, mass, 3, 8.34336671824457987, 4.12479856412430479,
             -0.403523417114321381, -0.00276742510726862411, 0.00499852801234917238,
             0.0000230417297573763929, 0.000285885980666130812)
    set_body(x, y, z, vx, vy, vz, mass, 4, 12.8943695621391310, -15.1111514016986312,
             -0.223307578892655734, 0.00296460137564761618, 0.00237847173959480950,
             -0.0000296589568540237556, 0.0000436624404335156298)
    set_body(x, y, z, vx, vy, vz, mass, 5, 15.3796971148509165, -25.9193146099879641,
             0.179258772950371181, 0.00268067772490389322, 0.00162824170038242295,
             -0.0000951592254519715870, 0.0000515138902046611451)
    px, py, pz = 0.0, 0.0, 0.0
    i = 1
    while i <= 5:
        px = px + vx[i] * mass[i]
        py = py + vy[i] * mass[i]
        pz = pz + vz[i] * mass[i]
        i += 1
    solar_mass = 4.0 * 3.141592653589793 * 3.141592653589793
    vx[1] = 0.0 - (px / solar_mass)
    vy[1] = 0.0 - (py / solar_mass)
    vz[1] = 0.0 - (pz / solar_mass)


def advance(x, y, z, vx, vy, vz, mass, dt):
    i = 1
    while i <= 5:
        j = i + 1
        while j <= 5:
            dx = x[i] - x[j]
            dy = y[i] - y[j]
            dz = z[i] - z[j]
            d_squared = dx * dx + dy * dy + dz * dz
            distance = sqrt(d_squared)
            mag = dt / (d_squared * distance)
            vx[i] = vx[i] - (dx * mass[j] * mag)
            vy[i] = vy[i] - (dy * mass[j] * mag)
            vz[i] = vz[i] - (dz * mass[j] * mag)
            vx[j] = vx[j] + (dx * mass[i] * mag)
            vy[j] = vy[j] + (dy * mass[i] * mag)
            vz[j] = vz[j] + (dz * mass[i] * mag)
            j += 1
        i += 1
    i = 1
    while i <= 5:
        x[i] = x[i] + dt * vx[i]
        y[i] = y[i] + dt * vy[i]
        z[i] = z[i] + dt * vz[i]
        i += 1


def energy(x, y, z, vx, vy, vz, mass):
    e = 0.0
    i = 1
    while i <= 5:
        e = e + 0.5 * mass[i] * (vx[i] * vx[i] + vy[i] * vy[i] + vz[i] * vz[i])
        j = i + 1
        while j <= 5:
            dx = x[i] - x[j]
            dy = y[i] - y[j]
            dz = z[i] - z[j]
            distance = sqrt(dx * dx + dy * dy + dz * dz)
            e = e - (mass[i] * mass[j]) / distance
            j += 1
        i += 1
    return e


def main(n):
    x, y, z = [0.0] * 6, [0.0] * 6, [0.0] * 6
    vx, vy, vz, mass = [0.0] * 6, [0.0] * 6, [0.0] * 6, [0.0] * 6
    create_bodies(x, y, z, vx, vy, vz, mass)
    i = 0
    while i < n:
        advance(x, y, z, vx, vy, vz, mass, 0.01)
        i += 1
    print("%.9f" % energy(x, y, z, vx, vy, vz, mass))


main(int(sys.argv[1]))
