.pragma library

// Ring fill of a speed gauge. Receive and transmit share one maximum, so the two rings stay
// comparable; until a maximum is known any real traffic (1 Mbps or more) shows a full ring.
function percentage(speed, maximum)
{
    if (!(speed > 0))
        return 0;
    if (!(maximum > 0))
        return speed < 1 ? 0 : 100;
    return Math.min(100, Math.floor(speed / maximum * 100));
}

function nextMaximum(speed, maximum)
{
    return speed > maximum ? speed : maximum;
}

// One decimal, as the centre of the gauge shows it.
function speedText(speed)
{
    return (speed > 0 ? speed : 0).toFixed(1);
}
